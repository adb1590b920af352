# The AT-SPI snapshot benchmark: `cmake --build BUILD --target atspi_bench` prints its table.
if(TARGET vantic-ax AND MEVRIK_PLATFORM STREQUAL "linux")
  add_custom_target(atspi_bench
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/atspi_snapshot.sh $<TARGET_FILE:vantic-ax>
    DEPENDS vantic-ax USES_TERMINAL)
endif()
# vantic-ax against the pyatspi walk on every application of the matrix that is installed:
# `cmake --build BUILD --target ax_matrix_bench` prints its table.
if(TARGET vantic-ax AND MEVRIK_PLATFORM STREQUAL "linux")
  add_custom_target(ax_matrix_bench
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ax_matrix.sh $<TARGET_FILE:vantic-ax>
    DEPENDS vantic-ax USES_TERMINAL)
endif()
