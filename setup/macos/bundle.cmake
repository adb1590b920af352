# The setup application as a macOS application bundle: Info.plist (bundle identifier, version,
# principal class, icon, LSUIElement), the icon made from setup/resources/mevrik.svg, and the
# product folder in Contents/Resources/product, where the application looks for its scripts and
# runtime.
set(MEVRIK_BUNDLE_IDENTIFIER "com.fennick.mevrik" CACHE STRING "Bundle identifier of Mevrik.app")

# The parts of the repository that make up the product folder. Only those that exist are copied.
set(MEVRIK_PRODUCT_ITEMS scripts runtime plugins README.md
    CACHE STRING "Top-level items of the repository copied into Resources/product")

# Mevrik.icns from the SVG: a small Qt program draws every size of an icon set, iconutil packs it.
function(mevrik_make_app_icon target)
  add_executable(mevrik-render-icon ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/render-icon.cc)
  target_link_libraries(mevrik-render-icon PRIVATE Qt6::Gui)
  find_program(MEVRIK_ICONUTIL iconutil REQUIRED)
  set(svg "${PROJECT_SOURCE_DIR}/setup/resources/mevrik.svg")
  set(iconset "${CMAKE_CURRENT_BINARY_DIR}/Mevrik.iconset")
  set(icns "${CMAKE_CURRENT_BINARY_DIR}/Mevrik.icns")
  add_custom_command(OUTPUT "${icns}"
                     COMMAND ${CMAKE_COMMAND} -E rm -rf "${iconset}"
                     COMMAND mevrik-render-icon "${svg}" "${iconset}"
                     COMMAND ${MEVRIK_ICONUTIL} -c icns -o "${icns}" "${iconset}"
                     DEPENDS "${svg}" mevrik-render-icon
                     COMMENT "Making Mevrik.icns from mevrik.svg" VERBATIM)
  target_sources(${target} PRIVATE "${icns}")
  set_source_files_properties("${icns}" PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
  set_target_properties(${target} PROPERTIES MACOSX_BUNDLE_ICON_FILE Mevrik.icns)
endfunction()

function(mevrik_make_app_bundle target)
  mevrik_make_app_icon(${target})
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
