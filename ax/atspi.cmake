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

# The backend's code; what it links comes with the target that uses it (see below).
add_library(ax_atspi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/platform-atspi.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-attributes.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-prefetch.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-requests.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-x11.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-bus.cc
  ${CMAKE_CURRENT_LIST_DIR}/atspi-roles.cc)
target_include_directories(ax_atspi PUBLIC ${PROJECT_SOURCE_DIR} ${AX_ATSPI_LIB_INCLUDE_DIRS}
                                            ${AX_ATSPI_DEPS_INCLUDE_DIRS})
target_compile_options(ax_atspi PUBLIC ${AX_ATSPI_DEPS_CFLAGS_OTHER})
target_link_libraries(ax_atspi PUBLIC vantic_ax_core)

# What vantic-ax links as its system platform (see platform-system.h). Where the -dev packages
# install their static archives (Debian's do), GLib and Xlib are linked into the program: binding
# their symbols in shared libraries at every start cost about 3-4 ms of a 60 ms snapshot. libmount
# and libselinux (GIO's) have no archives and stay shared. Without every archive, the shared
# libraries are used.
set(AX_ATSPI_ARCHIVES)
foreach(name IN ITEMS gio-2.0 gobject-2.0 gmodule-2.0 glib-2.0 ffi pcre2-8 z
                      Xrandr Xrender Xext X11 xcb Xau Xdmcp)
  find_library(AX_ATSPI_ARCHIVE_${name} NAMES lib${name}.a)
  if(NOT AX_ATSPI_ARCHIVE_${name})
    set(AX_ATSPI_ARCHIVES)
    break()
  endif()
  list(APPEND AX_ATSPI_ARCHIVES ${AX_ATSPI_ARCHIVE_${name}})
endforeach()
find_library(AX_ATSPI_MOUNT mount)
find_library(AX_ATSPI_SELINUX selinux)
add_library(vantic_ax_platform_system INTERFACE)
if(AX_ATSPI_ARCHIVES AND AX_ATSPI_MOUNT AND AX_ATSPI_SELINUX)
  find_package(Threads REQUIRED)
  target_link_libraries(vantic_ax_platform_system INTERFACE
    ax_atspi ${AX_ATSPI_ARCHIVES} ${AX_ATSPI_MOUNT} ${AX_ATSPI_SELINUX} Threads::Threads
    ${CMAKE_DL_LIBS} m)
else()
  target_link_libraries(vantic_ax_platform_system INTERFACE ax_atspi PkgConfig::AX_ATSPI_DEPS)
endif()

if(MEVRIK_BUILD_TESTS)
  # The role names are compared with libatspi's own (which brings the shared GLib, hence the
  # shared libraries here); the bus connection talks to a fake bus.
  add_executable(ax_atspi_test ${CMAKE_CURRENT_LIST_DIR}/atspi-roles_test.cc
                               ${CMAKE_CURRENT_LIST_DIR}/atspi-bus_test.cc)
  target_link_libraries(ax_atspi_test PRIVATE ax_atspi PkgConfig::AX_ATSPI_LIB
                                              PkgConfig::AX_ATSPI_DEPS GTest::gtest_main)
  add_test(NAME ax_atspi_test COMMAND ax_atspi_test)
endif()
