# The setup application as a macOS application bundle: Info.plist (bundle identifier, version,
# LSUIElement) and the product folder in Contents/Resources/product, where the application looks
# for its scripts and runtime.
set(MEVRIK_BUNDLE_IDENTIFIER "com.fennick.mevrik" CACHE STRING "Bundle identifier of Mevrik.app")

# The parts of the repository that make up the product folder. Only those that exist are copied.
set(MEVRIK_PRODUCT_ITEMS scripts runtime plugins README.md
    CACHE STRING "Top-level items of the repository copied into Resources/product")

function(mevrik_make_app_bundle target)
  set_target_properties(${target} PROPERTIES
    MACOSX_BUNDLE TRUE
    OUTPUT_NAME "Mevrik"
    MACOSX_BUNDLE_INFO_PLIST "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Info.plist.in"
    MACOSX_BUNDLE_GUI_IDENTIFIER "${MEVRIK_BUNDLE_IDENTIFIER}"
    MACOSX_BUNDLE_BUNDLE_NAME "Mevrik"
    MACOSX_BUNDLE_SHORT_VERSION_STRING "${PROJECT_VERSION}"
    MACOSX_BUNDLE_BUNDLE_VERSION "${PROJECT_VERSION}")
  set(product "$<TARGET_BUNDLE_CONTENT_DIR:${target}>/Resources/product")
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E rm -rf "${product}"
                     COMMAND ${CMAKE_COMMAND} -E make_directory "${product}")
  foreach(item IN LISTS MEVRIK_PRODUCT_ITEMS)
    set(source "${PROJECT_SOURCE_DIR}/${item}")
    if(IS_DIRECTORY "${source}")
      add_custom_command(TARGET ${target} POST_BUILD
                         COMMAND ${CMAKE_COMMAND} -E copy_directory "${source}" "${product}/${item}")
    elseif(EXISTS "${source}")
      add_custom_command(TARGET ${target} POST_BUILD
                         COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${product}/${item}")
    endif()
  endforeach()
endfunction()
