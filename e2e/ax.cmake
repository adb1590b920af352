# End-to-end checks of vantic-ax on the headless test desktop, with real applications.
if(NOT MEVRIK_PLATFORM STREQUAL "linux" OR NOT TARGET vantic-ax)
  return()
endif()

find_package(Qt6 COMPONENTS Widgets QUIET)
if(Qt6Widgets_FOUND)
  add_executable(ax_qt_app ${CMAKE_CURRENT_LIST_DIR}/ax_qt_app.cc)
  target_link_libraries(ax_qt_app PRIVATE Qt6::Widgets)
endif()

set(AX_E2E_ENV
  "VANTIC_AX=$<TARGET_FILE:vantic-ax>"
  "VANTIC_CLICK=$<$<TARGET_EXISTS:vantic-click>:$<TARGET_FILE:vantic-click>>"
  "AX_QT_APP=$<$<TARGET_EXISTS:ax_qt_app>:$<TARGET_FILE:ax_qt_app>>")

foreach(check gtk cycle apps faults matrix screens)
  add_test(NAME e2e_ax_${check} COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ax_${check}_test.sh)
  set_tests_properties(e2e_ax_${check} PROPERTIES
    LABELS e2e RESOURCE_LOCK desktop TIMEOUT 180 ENVIRONMENT "${AX_E2E_ENV}")
endforeach()

# Real applications of the matrix: the small ones are installed with the others and run here;
# Firefox ESR and LibreOffice (some 400 MB to install, 10-20 s to start) run with the label
# "heavy" only, through tools/test-matrix.sh.
add_test(NAME e2e_ax_desktop_apps COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ax_desktop_apps_test.sh)
add_test(NAME e2e_ax_heavy_apps
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ax_desktop_apps_test.sh firefox writer calc)
set_tests_properties(e2e_ax_desktop_apps PROPERTIES LABELS e2e)
set_tests_properties(e2e_ax_heavy_apps PROPERTIES LABELS "e2e;heavy" TIMEOUT 400)
set_tests_properties(e2e_ax_desktop_apps e2e_ax_heavy_apps PROPERTIES
  RESOURCE_LOCK desktop SKIP_RETURN_CODE 77 ENVIRONMENT "${AX_E2E_ENV}")
set_tests_properties(e2e_ax_desktop_apps PROPERTIES TIMEOUT 300)
