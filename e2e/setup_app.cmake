# The setup application on the headless test desktop, driven through vantic-ax and vantic-click.
if(NOT MEVRIK_PLATFORM STREQUAL "linux" OR NOT TARGET Mevrik OR NOT TARGET vantic-ax
   OR NOT TARGET vantic-click)
  return()
endif()
add_test(NAME e2e_setup_app COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/setup_app_test.sh)
set_tests_properties(e2e_setup_app PROPERTIES
  LABELS e2e RESOURCE_LOCK desktop TIMEOUT 180
  ENVIRONMENT "VANTIC_AX=$<TARGET_FILE:vantic-ax>;VANTIC_CLICK=$<TARGET_FILE:vantic-click>;MEVRIK_APP=$<TARGET_FILE:Mevrik>")
