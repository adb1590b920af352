# The setup application's start-up benchmark (bench/setup_start.sh runs it on the test desktop).
if(TARGET Mevrik)
  add_executable(setup_bare_window setup_bare_window.cc)
  target_link_libraries(setup_bare_window PRIVATE mevrik_setup_ui)
  add_executable(setup_start_bench setup_start.cc)
  target_compile_definitions(setup_start_bench PRIVATE MEVRIK_PATH="$<TARGET_FILE:Mevrik>"
                             BARE_WINDOW_PATH="$<TARGET_FILE:setup_bare_window>")
  add_dependencies(setup_start_bench Mevrik setup_bare_window)
endif()
