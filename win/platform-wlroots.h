// vantic-win's backend for wlroots compositors (platform-wlroots.cc): sway's IPC where it
// answers, else the compositor's list of toplevels.
#pragma once

#include <memory>
#include <string>

#include "win/platform.h"

namespace win {

// None, with the reason in `error`, when neither can be reached.
std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);

}  // namespace win

namespace win {

// KWin's backend (platform-kwin.cc), which the Linux system backend hands a KDE Plasma session.
std::unique_ptr<Platform> createKwinPlatform(std::string& error);

}  // namespace win
