// The one interface through which vantic-shot reaches the window system, so that the argument
// grammar, the clipping, the PNG and the report are one piece of code that tests run against a
// fake. Backends: X11 GetImage on Linux (platform-x11.cc), CoreGraphics on macOS
// (platform-mac.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace shot {

// A rectangle in screen points (global display coordinates, as vantic-ax and vantic-click use).
struct Rect {
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
};

// Pixels, 8-bit RGB, rows top to bottom with no padding. `scale` is image pixels per screen
// point (1 on X11, where a point is a root-window pixel; 2 on a Retina display).
struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  double scale = 1;
  std::vector<uint8_t> rgb;
};

struct Window {
  int32_t pid = 0;  // 0 when unknown
  Rect frame;       // the window's content, in screen points
};

class Platform {
 public:
  virtual ~Platform() = default;
  // The frontmost application's window, or none.
  virtual std::optional<Window> frontmostWindow() = 0;
  // The whole screen area, in screen points.
  virtual Rect screen() = 0;
  // What the screen shows in `area` (inside screen()), or none on failure.
  virtual std::optional<Image> capture(const Rect& area) = 0;
  // Why the last capture failed, where the system says more than that it did ("" otherwise).
  virtual std::string captureError() { return {}; }
};

// The window system's backend of this build. Gives none, with the reason in `error`, when the
// window system cannot be reached.
std::unique_ptr<Platform> createSystemPlatform(std::string& error);

}  // namespace shot
