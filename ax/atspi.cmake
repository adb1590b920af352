# The Linux snapshot backend: AT-SPI2 over D-Bus (spoken on the socket, messages built by GIO), X11
# for the active window and the monitors.
if(NOT MEVRIK_PLATFORM STREQUAL "linux")
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(AX_ATSPI_DEPS REQUIRED IMPORTED_TARGET gio-2.0 x11 xrandr)
# libatspi only for its constants: the backend speaks D-Bus itself and names roles from its own
# table, so vantic-ax does not load the library (nor libdbus and what that pulls in).
pkg_check_modules(AX_ATSPI_LIB REQUIRED IMPORTED_TARGET atspi-2)

add_library(ax_atspi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/platform-atspi.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-bus.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-roles.cc)
target_include_directories(ax_atspi PUBLIC ${PROJECT_SOURCE_DIR} ${AX_ATSPI_LIB_INCLUDE_DIRS})
target_link_libraries(ax_atspi PUBLIC vantic_ax_core PkgConfig::AX_ATSPI_DEPS)

# What vantic-ax links as its system platform (see platform-system.h).
add_library(vantic_ax_platform_system ALIAS ax_atspi)

if(MEVRIK_BUILD_TESTS)
  # The role names are compared with libatspi's own; the bus connection talks to a fake bus.
  add_executable(ax_atspi_test ${CMAKE_CURRENT_LIST_DIR}/atspi-roles_test.cc
                               ${CMAKE_CURRENT_LIST_DIR}/atspi-bus_test.cc)
  target_link_libraries(ax_atspi_test PRIVATE ax_atspi PkgConfig::AX_ATSPI_LIB GTest::gtest_main)
  add_test(NAME ax_atspi_test COMMAND ax_atspi_test)
endif()
