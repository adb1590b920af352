#include "shot/shot.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace shot {
namespace {

// A 200 x 100 screen whose pixel at (x, y) is (x, y, 7), with a front window where asked.
class FakePlatform : public Platform {
 public:
  std::optional<Window> window = Window{812, Rect{150, 80, 100, 40}};
  std::vector<Rect> captured;

  std::optional<Window> frontmostWindow() override { return window; }
  Rect screen() override { return Rect{0, 0, 200, 100}; }
  std::optional<Image> capture(const Rect& area) override {
    captured.push_back(area);
    Image image;
    image.width = static_cast<uint32_t>(area.width);
    image.height = static_cast<uint32_t>(area.height);
    for (int64_t y = area.y; y < area.y + area.height; ++y) {
      for (int64_t x = area.x; x < area.x + area.width; ++x) {
        image.rgb.insert(image.rgb.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7});
      }
    }
    return image;
  }
};

std::string tempPng() {
  return testing::TempDir() + "shot_test_" + std::to_string(getpid()) + ".png";
}

TEST(Shot, Arguments) {
  using Args = std::vector<std::string>;
  for (const Args& bad :
       {Args{"vantic-shot"}, Args{"vantic-shot", ""}, Args{"vantic-shot", "a", "1"},
        Args{"vantic-shot", "a.png", "0", "0", "0", "10"},
        Args{"vantic-shot", "a.png", "0", "0", "10", "-1"},
        Args{"vantic-shot", "a.png", "x", "0", "10", "10"},
        Args{"vantic-shot", "a.png", "nan", "0", "10", "10"},
        Args{"vantic-shot", "a.png", "0", "0", "1e300", "10"}}) {
    EXPECT_FALSE(readArguments(bad)) << testing::PrintToString(bad);
  }
  auto window = readArguments({"vantic-shot", "a.png"});
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->area);
  // Fractional points widen to whole points.
  auto area = readArguments({"vantic-shot", "a.png", "10.5", "-3", "5", "2.25"});
  ASSERT_TRUE(area && area->area);
  EXPECT_EQ(area->area->x, 10);
  EXPECT_EQ(area->area->y, -3);
  EXPECT_EQ(area->area->width, 6);
  EXPECT_EQ(area->area->height, 3);
}

TEST(Shot, WindowIsClippedToTheScreenWrittenAndReported) {
  FakePlatform platform;
  const std::string file = tempPng();
  RunResult result = perform(platform, Arguments{file, std::nullopt});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "pid=812 file=" + file + " x=150 y=80 width=50 height=20 image=50x20 scale=1\n");

  // The file holds the captured pixels: (u, v) of the image is screen point (150 + u, 80 + v).
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&png, file.c_str()));
  png.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
  ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr));
  EXPECT_EQ(png.width, 50u);
  EXPECT_EQ(png.height, 20u);
  const size_t at = (5 * 50 + 9) * 3;  // u = 9, v = 5
  EXPECT_EQ(pixels[at], 159);
  EXPECT_EQ(pixels[at + 1], 85);
  EXPECT_EQ(pixels[at + 2], 7);
  std::remove(file.c_str());
}

TEST(Shot, Failures) {
  FakePlatform platform;
  platform.window.reset();
  EXPECT_EQ(perform(platform, Arguments{tempPng(), std::nullopt}).status, 4);
  // A rectangle needs no window; one off the screen captures nothing.
  EXPECT_EQ(perform(platform, Arguments{tempPng(), Rect{0, 0, 10, 10}}).status, 0);
  RunResult off = perform(platform, Arguments{tempPng(), Rect{200, 0, 10, 10}});
  EXPECT_EQ(off.status, 1);
  EXPECT_EQ(off.err, "vantic-shot: the area lies outside the screen\n");
  EXPECT_EQ(platform.captured.size(), 1u);
  RunResult unwritable = perform(platform, Arguments{"/nonexistent/a.png", Rect{0, 0, 4, 4}});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_TRUE(unwritable.err.starts_with("vantic-shot: cannot write /nonexistent/a.png"));
  std::remove(tempPng().c_str());
}

}  // namespace
}  // namespace shot
