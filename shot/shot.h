// The screenshot tool's core: one run of vantic-shot, from its argument vector to its report.
//
//   vantic-shot FILE.png [X Y WIDTH HEIGHT]
//
// Writes a PNG of the frontmost window, or of the given screen rectangle, clipped to the screen,
// and prints one line:
//
//   pid=P file=FILE x=X y=Y width=W height=H image=IWxIH scale=S
//
// x, y, width and height are the captured area in screen points; the image has IW x IH pixels;
// a point (u, v) of the image is the screen point (X + u / S, Y + v / S), which vantic-click
// takes. Exit status 0; 2 with the usage text on bad arguments; 4 when there is no frontmost
// window to capture; 1 for other failures (no display, an area off the screen, a file that cannot
// be written), with a message on standard error.
#pragma once

#include <string>
#include <vector>

#include "common/output.h"
#include "shot/platform.h"

namespace shot {

inline constexpr char kUsage[] = "usage: vantic-shot FILE.png [X Y WIDTH HEIGHT]\n";

struct Arguments {
  std::string file;
  std::optional<Rect> area;  // none: the frontmost window
};

using RunResult = mevrik::RunResult;

// The arguments, or none when they call for the usage text.
std::optional<Arguments> readArguments(const std::vector<std::string>& args);

RunResult usage();

// The part of `area` that lies on `screen`; none when nothing does.
std::optional<Rect> clip(const Rect& area, const Rect& screen);

// Writes 8-bit RGB as a PNG file. False (with the reason in `error`) when it cannot.
bool writePng(const std::string& file, const Image& image, std::string& error);

// Captures and writes the file for arguments that readArguments accepted.
RunResult perform(Platform& platform, const Arguments& arguments);

}  // namespace shot
