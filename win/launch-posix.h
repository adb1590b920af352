// Starting programs detached from vantic-win on POSIX systems, and finding desktop entries in the
// XDG applications folders.
#pragma once

#include <string>
#include <vector>

#include "desktop/windows.h"
#include "win/platform.h"

namespace win {

// What vantic-win's backends on Linux share: programs start detached (below) and `watch` runs
// before each launch, so that the window it opens cannot come unseen; time is the monotonic
// clock; and where the system has no cheaper question, the active window and whether a window
// still exists come from a fresh read.
class PosixPlatform : public Platform {
 public:
  uint64_t activeWindow() override;
  bool exists(uint64_t id) override;
  // Activating a window shows its desktop (workspace) where the system has them.
  void showDesktop(int64_t) override {}
  Launched launchApplication(const std::string& id) override;
  Launched launchCommand(const std::vector<std::string>& argv) override;
  bool running(int32_t pid) override;
  double now() override;

 protected:
  virtual void watch() {}
};

// A compositor's window as vantic-win records it: its frame, its workspace, and a window out of
// sight (minimized, sway's scratchpad) as minimized.
Window recordOf(const mevrik::desktop::Window& window);

}  // namespace win

namespace win::posix {

// Starts the program (looked up in PATH when the name has no slash, never through a shell) in a
// new session, its standard streams on /dev/null and no other descriptor of ours open, in the
// folder `directory` ("" keeps ours). The program's process id, or why it did not start (the
// program was not found or not executable).
Launched spawnDetached(const std::vector<std::string>& argv, const std::string& directory);

// Finds the desktop entry `id` (a desktop file id such as "org.gnome.Calculator" or
// "org.gnome.Calculator.desktop", or a path to a .desktop file) and starts its command in the
// home folder.
Launched launchDesktopEntry(const std::string& id);

// Whether the process runs (exists and is no zombie).
bool running(int32_t pid);

}  // namespace win::posix
