# End-to-end checks of vantic-type, vantic-shot and their MCP tools on the headless test desktop.
if(TARGET vantic-type AND TARGET click_xi2_record)
  add_test(NAME e2e_type
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/type_e2e.py
                   --tool $<TARGET_FILE:vantic-type> --recorder $<TARGET_FILE:click_xi2_record>
                   --desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop.sh
                   $<$<TARGET_EXISTS:ax_qt_app>:--qt-app=$<TARGET_FILE:ax_qt_app>>)
  set_tests_properties(e2e_type PROPERTIES LABELS e2e RESOURCE_LOCK desktop TIMEOUT 240)
endif()
if(TARGET vantic-shot AND TARGET vantic-ax AND TARGET vantic-click)
  add_test(NAME e2e_shot
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/shot_e2e.py
                   --shot $<TARGET_FILE:vantic-shot> --ax $<TARGET_FILE:vantic-ax>
                   --click $<TARGET_FILE:vantic-click>
                   --desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop.sh)
  set_tests_properties(e2e_shot PROPERTIES LABELS e2e RESOURCE_LOCK desktop TIMEOUT 240)
endif()
# An agent's round trip through the MCP server: click a field, type Japanese, press Return, see it.
if(TARGET mevrik-mcp AND TARGET ax_qt_app AND TARGET vantic-type AND TARGET vantic-shot)
  add_test(NAME e2e_mcp_agent
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/mcp_agent_e2e.py
                   --server $<TARGET_FILE:mevrik-mcp> --qt-app $<TARGET_FILE:ax_qt_app>
                   --desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop.sh)
  set_tests_properties(e2e_mcp_agent PROPERTIES LABELS e2e RESOURCE_LOCK desktop TIMEOUT 120)
endif()
