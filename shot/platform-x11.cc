// The X11 backend of vantic-shot, on XCB: the frontmost window from _NET_ACTIVE_WINDOW, its place
// from TranslateCoordinates and GetGeometry, the pixels from GetImage on the root window.
//
// - The root window is read rather than the application's own window, so that the image shows
//   what the screen shows there (menus and windows on top included), as a person would see it.
// - On X11 a screen point is a root-window pixel, also when toolkits scale (GDK_SCALE=2 draws
//   twice as many pixels and reports them as twice as many points), so the scale is 1.
// - ZPixmap pixels are unpacked with the root visual's colour masks and the server's byte order,
//   for the 32-bit pixels that 24- and 32-bit depths use.
#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <bit>
#include <cstdint>

#include "desktop/x11/connection.h"
#include "desktop/x11/properties.h"
#include "shot/platform-gnome.h"
#include "shot/platform-wlroots.h"
#include "shot/platform.h"

namespace shot {
namespace {

namespace x11 = mevrik::desktop::x11;
using x11::Atom;
using x11::take;

// An 8-bit channel from a pixel and the channel's mask.
uint8_t channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
  const uint32_t top = mask >> std::countr_zero(mask);
  return static_cast<uint8_t>(value * 255 / top);
}

class X11Platform : public Platform {
 public:
  explicit X11Platform(x11::Display display)
      : display_(std::move(display)),
        atoms_(display_.connection.get(), {Atom::kActiveWindow, Atom::kWmPid}) {}

  std::optional<Window> frontmostWindow() override {
    xcb_connection_t* c = display_.connection.get();
    const xcb_window_t root = display_.screen->root;
    const auto front = x11::readFrontmost(c, root, atoms_);
    if (front.window == XCB_WINDOW_NONE) return std::nullopt;
    auto geometryCookie = xcb_get_geometry(c, front.window);
    auto placeCookie = xcb_translate_coordinates(c, front.window, root, 0, 0);
    auto geometry = take<xcb_get_geometry_reply>(c, geometryCookie);
    auto place = take<xcb_translate_coordinates_reply>(c, placeCookie);
    if (!geometry || !place) return std::nullopt;
    return Window{front.pid, Rect{place->dst_x, place->dst_y, geometry->width, geometry->height}};
  }

  Rect screen() override {
    return Rect{0, 0, display_.screen->width_in_pixels, display_.screen->height_in_pixels};
  }

  std::optional<Image> capture(const Rect& area) override {
    xcb_connection_t* c = display_.connection.get();
    auto reply = take<xcb_get_image_reply>(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display_.screen->root,
                      static_cast<int16_t>(area.x), static_cast<int16_t>(area.y),
                      static_cast<uint16_t>(area.width), static_cast<uint16_t>(area.height), ~0u));
    const xcb_visualtype_t* visual = rootVisual();
    if (!reply || !visual) return std::nullopt;
    const size_t pixels = static_cast<size_t>(area.width) * static_cast<size_t>(area.height);
    const auto length = static_cast<size_t>(xcb_get_image_data_length(reply.get()));
    if (length < pixels * 4 || length % static_cast<size_t>(area.height) != 0) return std::nullopt;
    const size_t stride = length / static_cast<size_t>(area.height);
    const uint8_t* data = xcb_get_image_data(reply.get());
    const bool msbFirst = display_.setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    Image image;
    image.width = static_cast<uint32_t>(area.width);
    image.height = static_cast<uint32_t>(area.height);
    image.rgb.reserve(pixels * 3);
    for (int64_t y = 0; y < area.height; ++y) {
      const uint8_t* row = data + static_cast<size_t>(y) * stride;
      for (int64_t x = 0; x < area.width; ++x) {
        const uint8_t* p = row + x * 4;
        const uint32_t pixel = msbFirst ? (p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3])
                                        : (p[3] << 24 | p[2] << 16 | p[1] << 8 | p[0]);
        image.rgb.push_back(channel(pixel, visual->red_mask));
        image.rgb.push_back(channel(pixel, visual->green_mask));
        image.rgb.push_back(channel(pixel, visual->blue_mask));
      }
    }
    return image;
  }

 private:
  // The root visual, when its pixels are 32 bits wide; none otherwise.
  const xcb_visualtype_t* rootVisual() const {
    const xcb_screen_t* screen = display_.screen;
    bool thirtyTwo = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(display_.setup); formats.rem > 0;
         xcb_format_next(&formats)) {
      if (formats.data->depth == screen->root_depth) thirtyTwo = formats.data->bits_per_pixel == 32;
    }
    if (!thirtyTwo) return nullptr;
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem > 0;
         xcb_depth_next(&depths)) {
      for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
           xcb_visualtype_next(&visuals)) {
        if (visuals.data->visual_id == screen->root_visual) return visuals.data;
      }
    }
    return nullptr;
  }

  x11::Display display_;
  x11::Atoms atoms_;
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  // In a Wayland session the X server is XWayland, whose root window holds none of the Wayland
  // windows: the image would be empty where the user sees windows.
  return x11::Backends<Platform>{x11::make<Platform, X11Platform>, createWlrootsPlatform,
                                 createGnomePlatform, createKwinPlatform}
      .pick("vantic-shot", "X11 does not see Wayland windows", "no screenshot was taken", error);
}

}  // namespace shot
