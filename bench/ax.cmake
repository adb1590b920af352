# Snapshot benchmarks: the core per visited element, and the whole replay process.
find_package(benchmark REQUIRED)

add_executable(ax_walk_bench ${CMAKE_CURRENT_SOURCE_DIR}/ax_walk.cc)
target_link_libraries(ax_walk_bench PRIVATE vantic_ax_scene benchmark::benchmark)

add_executable(ax_replay_bench ${CMAKE_CURRENT_SOURCE_DIR}/ax_replay.cc)
target_compile_definitions(ax_replay_bench PRIVATE AX_REPLAY_PATH="$<TARGET_FILE:vantic-ax-replay>")
add_dependencies(ax_replay_bench vantic-ax-replay)
