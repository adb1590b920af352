#include "shot/shot.h"

#include <png.h>

#include <algorithm>
#include <cmath>

#include "common/exit_status.h"
#include "common/numbers.h"

namespace shot {
namespace {

namespace status = mevrik::exit_status::shot;

// Screen areas beyond this many points a side are no screen's; the limit also keeps the pixel
// arithmetic far from overflow.
constexpr double kLargestSide = 1 << 20;

std::string formatScale(double scale) {
  return mevrik::formatShortest(scale);
}

}  // namespace

std::optional<Arguments> readArguments(const std::vector<std::string>& args) {
  if (args.size() != 2 && args.size() != 6) return std::nullopt;
  Arguments arguments;
  arguments.file = args[1];
  if (arguments.file.empty()) return std::nullopt;
  if (args.size() == 6) {
    double v[4];
    for (int i = 0; i < 4; ++i) {
      auto value = mevrik::parseDouble(args[2 + i]);
      if (!value || !std::isfinite(*value) || std::abs(*value) > kLargestSide) return std::nullopt;
      v[i] = *value;
    }
    if (v[2] <= 0 || v[3] <= 0) return std::nullopt;
    // Fractional points widen the area to whole points, so that nothing asked for is left out.
    const double left = std::floor(v[0]), top = std::floor(v[1]);
    arguments.area = Rect{static_cast<int64_t>(left), static_cast<int64_t>(top),
                          static_cast<int64_t>(std::ceil(v[0] + v[2]) - left),
                          static_cast<int64_t>(std::ceil(v[1] + v[3]) - top)};
  }
  return arguments;
}

RunResult usage() {
  return {status::kUsage, "", kUsage};
}

std::optional<Rect> clip(const Rect& area, const Rect& screen) {
  const int64_t left = std::max(area.x, screen.x);
  const int64_t top = std::max(area.y, screen.y);
  const int64_t right = std::min(area.x + area.width, screen.x + screen.width);
  const int64_t bottom = std::min(area.y + area.height, screen.y + screen.height);
  if (right <= left || bottom <= top) return std::nullopt;
  return Rect{left, top, right - left, bottom - top};
}

bool writePng(const std::string& file, const Image& image, std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGB;
  if (image.rgb.size() != size_t{image.width} * image.height * 3) {
    error = "the captured image has the wrong size";
    return false;
  }
  if (!png_image_write_to_file(&png, file.c_str(), 0, image.rgb.data(), 0, nullptr)) {
    error = std::string("cannot write ") + file + ": " + png.message;
    return false;
  }
  return true;
}

RunResult perform(Platform& platform, const Arguments& arguments) {
  int32_t pid = 0;
  Rect area;
  if (arguments.area) {
    area = *arguments.area;
    if (auto window = platform.frontmostWindow()) pid = window->pid;
  } else {
    auto window = platform.frontmostWindow();
    if (!window) return {status::kNoFrontmost, "", "vantic-shot: no frontmost window to capture\n"};
    pid = window->pid;
    area = window->frame;
  }
  auto visible = clip(area, platform.screen());
  if (!visible) return {status::kFailed, "", "vantic-shot: the area lies outside the screen\n"};
  auto image = platform.capture(*visible);
  if (!image) {
    const std::string why = platform.captureError();
    return {status::kFailed, "",
            "vantic-shot: the screen could not be read" + (why.empty() ? "" : ": " + why) + "\n"};
  }
  std::string error;
  if (!writePng(arguments.file, *image, error))
    return {status::kFailed, "", "vantic-shot: " + error + "\n"};
  RunResult result;
  result.out = "pid=" + std::to_string(pid) + " file=" + arguments.file +
               " x=" + std::to_string(visible->x) + " y=" + std::to_string(visible->y) +
               " width=" + std::to_string(visible->width) +
               " height=" + std::to_string(visible->height) +
               " image=" + std::to_string(image->width) + "x" + std::to_string(image->height) +
               " scale=" + formatScale(image->scale) + "\n";
  return result;
}

}  // namespace shot
