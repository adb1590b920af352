#include "desktop/session.h"

#include <gtest/gtest.h>

#include "desktop/sway/ipc.h"

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

// A window's place comes from three of sway's rectangles: the container on the output, the
// client area inside it, and the client's window geometry inside its surface (shadows).
TEST(SwayTree, PlacesWindowsAndTheirSurfaces) {
  std::vector<Window> windows = sway::windowsOfTree(R"({"id":1,"nodes":[
    {"id":4,"type":"output","rect":{"x":1280,"y":0,"width":1280,"height":800},"nodes":[
      {"id":5,"pid":42,"app_id":"gtk3-widget-factory","name":"Factory","focused":true,
       "rect":{"x":1280,"y":27,"width":1280,"height":773},
       "window_rect":{"x":2,"y":0,"width":1276,"height":771},
       "geometry":{"x":26,"y":23,"width":1415,"height":732}}],
     "floating_nodes":[{"id":7,"pid":43,"app_id":null,"name":"xterm","focused":false,
       "shell":"xwayland","window_properties":{"class":"XTerm"},
       "rect":{"x":10,"y":20,"width":300,"height":200},
       "window_rect":{"x":0,"y":0,"width":300,"height":200}}]}]})");
  ASSERT_EQ(windows.size(), 2u);
  // The floating window lies above the tiled one.
  EXPECT_EQ(windows[1].id, 5);
  std::swap(windows[0], windows[1]);
  EXPECT_EQ(windows[0].id, 5);
  EXPECT_EQ(windows[0].pid, 42);
  EXPECT_TRUE(windows[0].focused);
  EXPECT_EQ(windows[0].content.x, 1282);
  EXPECT_EQ(windows[0].content.y, 27);
  EXPECT_EQ(windows[0].content.width, 1276);
  EXPECT_EQ(windows[0].surfaceX, 1282 - 26);
  EXPECT_EQ(windows[0].surfaceY, 27 - 23);
  EXPECT_FALSE(windows[0].xwayland);
  // An X11 client: its class stands for the app_id, its toolkit speaks screen positions.
  EXPECT_EQ(windows[1].appId, "XTerm");
  EXPECT_TRUE(windows[1].xwayland);
  EXPECT_EQ(windows[1].surfaceX, 10);
  // Not JSON, or not a tree: no windows rather than a crash.
  EXPECT_TRUE(sway::windowsOfTree("{").empty());
  EXPECT_TRUE(sway::outputsOf(R"({"rect":1})").empty());
}

// Topmost first: shown windows before hidden ones; on a workspace fullscreen, then floating (the
// last drawn on top), then tiled by their last focus. The focused workspace is the first in the
// output's focus list, the scratchpad's windows are put away.
TEST(SwayTree, StacksWindowsAsSwayDrawsThem) {
  const sway::Tree tree = sway::treeOf(R"({"id":1,"focus":[3,2],"nodes":[
    {"id":2,"type":"output","name":"__i3","nodes":[{"id":9,"type":"workspace","name":"__i3_scratch",
      "floating_nodes":[{"id":90,"pid":9,"app_id":"stash","visible":false}]}]},
    {"id":3,"type":"output","focus":[20,10],"nodes":[
      {"id":10,"type":"workspace","name":"1","num":1,"nodes":[
        {"id":11,"pid":1,"app_id":"hidden","visible":false}]},
      {"id":20,"type":"workspace","name":"web","num":-1,"focus":[22,21,24],
       "nodes":[{"id":21,"pid":2,"app_id":"a","visible":true},
                {"id":22,"pid":3,"app_id":"b","visible":true,"focused":true}],
       "floating_nodes":[{"id":23,"pid":4,"app_id":"low","visible":true},
                         {"id":24,"pid":5,"app_id":"high","visible":true}]}]}]})");
  std::vector<int64_t> order;
  for (const Window& w : tree.windows) order.push_back(w.id);
  EXPECT_EQ(order, (std::vector<int64_t>{24, 23, 22, 21, 11, 90}));
  EXPECT_FALSE(tree.currentWorkspace.has_value());  // "web" has no number
  EXPECT_EQ(tree.windows[4].workspace, 1);
  EXPECT_TRUE(tree.windows[5].putAway);
  EXPECT_FALSE(tree.windows[5].visible);
}

}  // namespace
}  // namespace mevrik::desktop
