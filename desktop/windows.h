// Windows and outputs as the desktop layer hands them to the tools, whatever the session: in the
// compositor's logical pixels, the origin at the top-left corner of the output layout's first
// output, y growing downwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mevrik::desktop {

struct Box {
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
};

struct Window {
  int64_t id = 0;   // the compositor's handle for it
  int32_t pid = 0;  // 0 when unknown
  std::string title;
  std::string appId;  // Wayland app_id (or X11 class); "" when unknown
  Box content;        // the client area on the screen, decorations left out
  Box frame;          // with the decorations (border, title bar): the area a click reaches it in
  // Where the client's own coordinates start on the screen: toolkits give accessibility extents
  // relative to their surface, which can begin before the content (client-side shadows).
  int64_t surfaceX = 0;
  int64_t surfaceY = 0;
  // The surface's width on the screen, 0 when the compositor does not tell it. Where the screen's
  // pixels are the monitors' own (GNOME Shell on a 2x monitor), a toolkit's coordinates are
  // smaller than the screen's by that monitor's scale.
  int64_t surfaceWidth = 0;
  bool focused = false;
  // Shown on an output: not on a hidden workspace, behind another tab, under a fullscreen window
  // of its workspace or put away (the scratchpad).
  bool visible = true;
  bool putAway = false;              // in the scratchpad, where sway keeps hidden windows
  std::optional<int64_t> workspace;  // the workspace's number; none when it has none
  // An X11 client under a Wayland compositor (XWayland): its toolkit gives accessibility extents
  // on the screen, not relative to its surface.
  bool xwayland = false;
};

struct Output {
  std::string name;
  Box area;  // in the layout, logical pixels
  double scale = 1;
};

}  // namespace mevrik::desktop
