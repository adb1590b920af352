# End-to-end checks of vantic-click on the headless test desktop.
if(MEVRIK_PLATFORM STREQUAL "linux")
  find_package(X11 REQUIRED)
  add_executable(click_xi2_record click_xi2_record.cc)
  target_link_libraries(click_xi2_record PRIVATE X11::X11 X11::Xi)
endif()

# The checks need pyatspi, which Debian installs for the system's python3 only.
set(click_e2e_command /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/click_e2e.py
    --tool $<TARGET_FILE:vantic-click> --recorder $<TARGET_FILE:click_xi2_record>
    --desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop.sh)
if(TARGET vantic-click AND TARGET click_xi2_record)
  add_test(NAME e2e_click COMMAND ${click_e2e_command})
  # Stock openbox holds synchronous button grabs on client windows (click-to-focus), as real
  # desktops do; multi-clicks must survive them.
  add_test(NAME e2e_click_stock_wm COMMAND ${click_e2e_command} --stock-wm --only multi)
  set_tests_properties(e2e_click e2e_click_stock_wm
                       PROPERTIES LABELS e2e RESOURCE_LOCK desktop TIMEOUT 240)
endif()

if(TARGET vantic-click)
  add_test(NAME e2e_click_lost_display
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/click_lost_display_test.sh $<TARGET_FILE:vantic-click>)
  set_tests_properties(e2e_click_lost_display
                       PROPERTIES LABELS e2e RESOURCE_LOCK desktop TIMEOUT 60)
endif()
