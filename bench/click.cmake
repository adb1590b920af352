# vantic-click next to xdotool: whole-process time of one action minus its fixed waits.
if(TARGET vantic-click)
  add_executable(click_bench click_bench.cc)
  target_compile_definitions(click_bench PRIVATE VANTIC_CLICK_PATH="$<TARGET_FILE:vantic-click>")
  add_dependencies(click_bench vantic-click)
endif()
