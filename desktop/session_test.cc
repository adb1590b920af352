#include "desktop/session.h"

#include <gtest/gtest.h>

namespace mevrik::desktop {
namespace {

Session of(std::string_view display, std::string_view type, std::string_view current,
           std::string_view sessionDesktop = "", std::string_view sway = "") {
  return detectSession(Environment{display, type, current, sessionDesktop, sway});
}

TEST(DetectSession, TellsTheFamiliesApart) {
  // No Wayland sign: X11, even with a desktop name or a stale sway socket around.
  EXPECT_EQ(of("", "", ""), Session::kX11);
  EXPECT_EQ(of("", "x11", "GNOME", "", "/run/user/1000/sway-ipc.sock"), Session::kX11);
  // Either sign is enough.
  EXPECT_EQ(of("wayland-0", "", "GNOME"), Session::kGnome);
  EXPECT_EQ(of("", "wayland", "ubuntu:GNOME"), Session::kGnome);
  EXPECT_EQ(of("wayland-0", "wayland", "KDE"), Session::kKde);
  EXPECT_EQ(of("wayland-1", "", "", "plasmawayland"), Session::kKde);
  EXPECT_EQ(of("wayland-1", "", "Sway"), Session::kWlroots);
  EXPECT_EQ(of("wayland-1", "", "river"), Session::kWlroots);
  // sway started by hand names no desktop, but its socket is there.
  EXPECT_EQ(of("wayland-1", "", "", "", "/run/user/1000/sway-ipc.1000.42.sock"), Session::kWlroots);
  // A named desktop wins over an inherited socket.
  EXPECT_EQ(of("wayland-0", "", "GNOME", "", "/tmp/sway-ipc.sock"), Session::kGnome);
  EXPECT_EQ(of("wayland-0", "", "Hyprland"), Session::kOtherWayland);
  EXPECT_EQ(of("wayland-0", "", ""), Session::kOtherWayland);
}

}  // namespace
}  // namespace mevrik::desktop
