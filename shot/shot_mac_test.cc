// The screenshot core through the macOS backend on the Apple stand-in, which answers with scripted
// windows, displays and screen images: the window chosen, the pixels of several bitmap layouts as
// they reach the PNG, the Retina scale, an area across two displays, and the refusal without the
// Screen Recording permission.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "desktop/mac/frontmost.h"
#include "shot/capture-mac.h"
#include "shot/shot.h"
#include "standin.h"

namespace mevrik::desktop::mac {
int32_t frontmostProcessId() {
  return 812;
}
}  // namespace mevrik::desktop::mac

namespace shot {

// ScreenCaptureKit's part (capture-mac.mm) is Objective-C; the stand-in answers in its place.
CGImageRef captureDisplayArea(CGDirectDisplayID display, CGRect area, size_t width, size_t height) {
  return standin::captureScreen(display, area, width, height);
}

namespace {

// The calls written down, one line each.
std::string calls() {
  std::string text;
  for (const standin::Call& c : standin::calls()) {
    text += c.function + testing::PrintToString(c.values) + c.text + "\n";
  }
  return text;
}

// A bitmap info: the alpha layout and the byte order (default: big-endian) or float flag.
uint32_t info(CGImageAlphaInfo alpha, uint32_t flags = 0) {
  return flags | alpha;
}

// Runs vantic-shot with these arguments after the file name; gives what it printed (the file name
// as FILE) and leaves the PNG's pixels in `rgb`.
std::string run(std::vector<std::string> args, std::vector<uint8_t>& rgb) {
  const int64_t live = standin::liveReferences();
  const std::string file = testing::TempDir() + "shot_mac_" + std::to_string(getpid()) + ".png";
  args.insert(args.begin(), {"vantic-shot", file});
  std::string error;
  auto platform = createSystemPlatform(error);
  if (!platform) return error;
  const RunResult result = perform(*platform, *readArguments(args));
  EXPECT_EQ(standin::liveReferences(), live) << "every reference is released";
  rgb.clear();
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (result.status == 0 && png_image_begin_read_from_file(&png, file.c_str())) {
    png.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(png));
    EXPECT_TRUE(png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr));
  }
  std::remove(file.c_str());
  std::string out = result.out + result.err;
  if (auto at = out.find(file); at != std::string::npos) out.replace(at, file.size(), "FILE");
  return out;
}

TEST(ShotMac, TheFrontApplicationsFrontWindowAtRetinaScale) {
  standin::reset();
  standin::setDisplays({{{0, 0}, {1440, 900}}, {{1440, -300}, {1920, 1080}}}, {2, 1});
  standin::setWindows({{812, 25, {{0, 0}, {50, 50}}},    // a panel above the normal layer
                       {77, 0, {{5, 5}, {900, 600}}},    // another application's window
                       {812, 0, {{100.5, 40}, {2, 1}}},  // the front one
                       {812, 0, {{0, 0}, {800, 600}}}});
  // 6 x 2 pixels for 3 x 1 points, BGRA in 32-bit little-endian words (premultiplied ARGB),
  // rows padded from 24 to 32 bytes.
  standin::Bitmap bgra{
      6, 2, 8, 32, 32, info(kCGImageAlphaPremultipliedFirst, kCGBitmapByteOrder32Little), {}};
  std::vector<uint8_t> expected, rgb;
  for (uint8_t i = 0; i < 12; ++i) {
    bgra.bytes.insert(bgra.bytes.end(), {uint8_t(i + 100), i, uint8_t(i * 10), 255});
    if (i % 6 == 5) bgra.bytes.insert(bgra.bytes.end(), 8, 0xEE);
    expected.insert(expected.end(), {uint8_t(i * 10), i, uint8_t(i + 100)});
  }
  standin::setScreenImage(bgra);
  EXPECT_EQ(run({}, rgb), "pid=812 file=FILE x=100 y=40 width=3 height=1 image=6x2 scale=2\n");
  EXPECT_EQ(rgb, expected);
  // On-screen windows without desktop elements; display 1's area at its scale.
  EXPECT_EQ(calls(),
            "CGWindowListCopyWindowInfo{ 17, 0 }\n"
            "capture{ 1, 6, 2 }100.000000 40.000000 3.000000 1.000000\n");
}

TEST(ShotMac, AnAreaAcrossTwoDisplaysAtTheDenserOnesScale) {
  standin::reset();
  standin::setDisplays({{{0, 0}, {1440, 900}}, {{1440, -300}, {1920, 1080}}}, {2, 1});
  // Every capture gives these 4 x 2 pixels (RGB, no alpha), one colour per row.
  standin::setScreenImage(
      standin::Bitmap{4, 2, 8, 24, 12, kCGImageAlphaNone, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3,  //
                                                           4, 5, 6, 4, 5, 6, 4, 5, 6, 4, 5, 6}});
  std::vector<uint8_t> rgb;
  EXPECT_EQ(run({"1438", "10", "4", "1"}, rgb),
            "pid=0 file=FILE x=1438 y=10 width=4 height=1 image=8x2 scale=2\n");
  // Each display gives its half, in its own coordinates, at scale 2.
  EXPECT_EQ(calls(),
            "CGWindowListCopyWindowInfo{ 17, 0 }\n"
            "capture{ 1, 4, 2 }1438.000000 10.000000 2.000000 1.000000\n"
            "capture{ 2, 4, 2 }0.000000 310.000000 2.000000 1.000000\n");
  std::vector<uint8_t> expected;
  for (uint8_t row : {1, 4}) {
    for (int x = 0; x < 8; ++x)
      expected.insert(expected.end(), {row, uint8_t(row + 1), uint8_t(row + 2)});
  }
  EXPECT_EQ(rgb, expected);
}

TEST(ShotMac, BitmapLayouts) {
  // 2 x 1 pixels of `bits`-bit components, four to a pixel unless the alpha layout has none.
  auto bitmap = [](size_t bits, size_t stride, uint32_t info, std::vector<uint8_t> bytes) {
    const size_t count = (info & kCGBitmapAlphaInfoMask) == kCGImageAlphaNone ? 3 : 4;
    return standin::Bitmap{2, 1, bits, bits * count, stride, info, std::move(bytes)};
  };
  const std::pair<standin::Bitmap, std::vector<uint8_t>> cases[] = {
      // RGBA with a straight alpha, composed over black.
      {bitmap(8, 8, kCGImageAlphaLast, {200, 100, 50, 255, 200, 100, 50, 128}),
       {200, 100, 50, 100, 50, 25}},
      // 16-bit little-endian components, the fourth skipped.
      {bitmap(16, 16, info(kCGImageAlphaNoneSkipLast, kCGBitmapByteOrder16Little),
              {0, 0xC8, 0, 0x64, 0, 0x32, 9, 9, 0xFF, 0xFF, 0, 0, 0, 0, 9, 9}),
       {199, 100, 50, 255, 0, 0}},
      // Unreadable: floating-point components; rows shorter than their pixels.
      {bitmap(32, 32, info(kCGImageAlphaLast, kCGBitmapFloatComponents), std::vector<uint8_t>(32)),
       {}},
      {bitmap(8, 4, kCGImageAlphaNoneSkipLast, std::vector<uint8_t>(8)), {}},
  };
  for (const auto& [image, expected] : cases) {
    standin::reset();
    standin::setDisplays({{{0, 0}, {1440, 900}}, {{1440, -300}, {1920, 1080}}});
    standin::setScreenImage(image);
    std::vector<uint8_t> rgb;
    // A rectangle, clipped to the displays' bounding box, needs no window (so no pid).
    EXPECT_EQ(run({"1500", "-301", "2", "2"}, rgb),
              expected.empty()
                  ? "vantic-shot: the screen could not be read\n"
                  : "pid=0 file=FILE x=1500 y=-300 width=2 height=1 image=2x1 scale=1\n");
    EXPECT_EQ(rgb, expected) << testing::PrintToString(image.bytes);
  }
}

TEST(ShotMac, WithoutScreenRecordingNothingIsCaptured) {
  standin::reset();
  standin::setScreenCaptureAccess(false);
  std::vector<uint8_t> rgb;
  EXPECT_TRUE(run({}, rgb).starts_with("screen recording not allowed"));
  EXPECT_TRUE(standin::calls().empty());
}

}  // namespace
}  // namespace shot
