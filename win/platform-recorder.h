// A Platform that performs nothing and writes down every call, one transcript line each, over a
// world of windows that the options describe.
//
// Used by the core's tests and by vantic-win-trace; the transcript format (win/README.md) is read
// by other programs, so its lines never change shape. The world moves only when the core waits:
// at the first wait after an activation the window becomes active, raised and shown (or closes,
// or nothing happens, as the options say), and at the first wait after a launch the launched
// window appears on top. Each wait advances the recorder's clock by the time asked for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win/platform.h"
#include "win/win.h"

namespace win {

struct RecorderOptions {
  Desktop desktop;  // the windows, topmost first, and the desktop shown
  uint64_t active = 0;
  bool noWindowList = false;  // every read fails, as without EWMH
  enum class Activation { kActivates, kIgnored, kCloses };
  Activation activation = Activation::kActivates;
  int32_t launchPid = 0;               // the pid a launch gives; 0: the launch fails
  bool unknownApplication = false;     // a launch by id finds no such application
  bool launchExits = false;            // the launched process has ended at once
  std::optional<Window> launchWindow;  // appears at the first wait after a launch
};

class RecorderPlatform : public Platform {
 public:
  explicit RecorderPlatform(RecorderOptions options);

  const std::vector<std::string>& transcript() const { return lines_; }
  // Adds the run's outputs and exit status: "out ..." and "err ..." per line, then "exit N".
  void recordResult(const RunResult& result);

  std::optional<Desktop> read(std::string& error) override;
  uint64_t activeWindow() override;
  bool exists(uint64_t id) override;
  void showDesktop(int64_t desktop) override;
  void activate(const Window& window) override;
  Launched launchApplication(const std::string& id) override;
  Launched launchCommand(const std::vector<std::string>& argv) override;
  bool running(int32_t pid) override;
  void waitForChange(double seconds) override;
  double now() override { return clock_; }

 private:
  Launched launched(std::string line);

  RecorderOptions options_;
  std::vector<std::string> lines_;
  double clock_ = 0;
  std::optional<uint64_t> activating_;
  bool launchPending_ = false;
};

}  // namespace win
