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
