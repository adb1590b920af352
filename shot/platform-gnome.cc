// The GNOME Shell backend of vantic-shot: Mevrik's shell extension tells the window in front and
// the monitors, and paints the area itself (no screen-cast stream, no consent dialog). It answers
// with a PNG, decoded here so that the core clips and writes it as on every other system.
//
// Points are the layout's logical pixels, the space of vantic-ax's centres. On a monitor scaled
// by 2 the shell paints twice as many pixels per point, and the report's scale says so.
#include "shot/platform-gnome.h"

#include <png.h>

#include "desktop/gnome/shell.h"
#include "shot/compositor.h"

namespace shot {
namespace {

using mevrik::desktop::Box;
using mevrik::desktop::Output;

std::optional<Image> decodePng(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  Image out;
  out.width = image.width;
  out.height = image.height;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

class GnomePlatform : public Platform {
 public:
  GnomePlatform(std::unique_ptr<mevrik::desktop::gnome::Shell> shell, std::vector<Output> outputs)
      : shell_(std::move(shell)), outputs_(std::move(outputs)) {}

  std::optional<Window> frontmostWindow() override {
    const std::optional<mevrik::desktop::Window> w = shell_->focused();
    if (!w) return std::nullopt;
    return windowOf(*w);
  }

  Rect screen() override { return layoutBounds(outputs_); }

  std::optional<Image> capture(const Rect& area) override {
    std::string error;
    const std::optional<std::string> png =
        shell_->screenshot(Box{area.x, area.y, area.width, area.height}, error);
    if (!png) return std::nullopt;
    std::optional<Image> image = decodePng(*png);
    if (!image || area.width <= 0) return std::nullopt;
    image->scale = static_cast<double>(image->width) / static_cast<double>(area.width);
    return image;
  }

 private:
  std::unique_ptr<mevrik::desktop::gnome::Shell> shell_;
  std::vector<Output> outputs_;
};

}  // namespace

std::unique_ptr<Platform> createGnomePlatform(std::string& error) {
  using namespace mevrik::desktop;
  const std::string tail = "no screenshot was taken";
  std::string why;
  auto shell = gnome::Shell::connect(why);
  if (!shell) {
    error = gnome::refusal("vantic-shot", why, tail);
    return nullptr;
  }
  std::optional<std::vector<Output>> outputs = shell->outputs();
  if (!outputs) {
    // The extension answered the connection, then stopped: the shell went away (or hangs), and
    // installing the extension again would not help.
    error = "GNOME Shell stopped answering (the shell went away?); " + tail;
    return nullptr;
  }
  if (outputs->empty()) {
    error = gnome::refusal("vantic-shot", "the extension named no monitor", tail);
    return nullptr;
  }
  return std::make_unique<GnomePlatform>(std::move(shell), std::move(*outputs));
}

}  // namespace shot
