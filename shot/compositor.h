// What the compositors' backends of vantic-shot share: the desktop layer gives their windows and
// outputs in logical pixels, and their captures come in the outputs' own pixels.
#pragma once

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "desktop/windows.h"
#include "shot/platform.h"

namespace shot {

// A compositor's window as the core wants it.
inline Window windowOf(const mevrik::desktop::Window& w) {
  return Window{w.pid, Rect{w.content.x, w.content.y, w.content.width, w.content.height}};
}

// The focused window among `windows`.
inline std::optional<Window> focusedWindow(const std::vector<mevrik::desktop::Window>& windows) {
  for (const mevrik::desktop::Window& w : windows) {
    if (w.focused) return windowOf(w);
  }
  return std::nullopt;
}

// The bounding box of all outputs (there is at least one).
inline Rect layoutBounds(const std::vector<mevrik::desktop::Output>& outputs) {
  mevrik::desktop::Box box = outputs.front().area;
  for (const mevrik::desktop::Output& o : outputs) {
    const int64_t right = std::max(box.x + box.width, o.area.x + o.area.width);
    const int64_t bottom = std::max(box.y + box.height, o.area.y + o.area.height);
    box.x = std::min(box.x, o.area.x);
    box.y = std::min(box.y, o.area.y);
    box.width = right - box.x;
    box.height = bottom - box.y;
  }
  return Rect{box.x, box.y, box.width, box.height};
}

// A capture of `area` as the core's image: the scale is its pixels per point.
template <typename Pixels>
Image imageOf(Pixels&& pixels, const Rect& area) {
  Image image;
  image.width = pixels.width;
  image.height = pixels.height;
  image.scale = static_cast<double>(pixels.width) / static_cast<double>(area.width);
  image.rgb = std::move(pixels.rgb);
  return image;
}

}  // namespace shot
