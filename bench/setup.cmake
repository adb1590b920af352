# The setup model's benchmark (included by bench/CMakeLists.txt).
if(TARGET mevrik_setup_model)
  add_executable(setup_refresh_bench ${CMAKE_CURRENT_SOURCE_DIR}/setup_refresh.cc)
  target_link_libraries(setup_refresh_bench PRIVATE mevrik_setup_model)
endif()
