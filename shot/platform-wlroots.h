// The wlroots backend of vantic-shot, which the Linux system backend hands a wlroots session.
#pragma once

#include <memory>
#include <string>

#include "shot/platform.h"

namespace shot {

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);

}  // namespace shot

namespace shot {

// KWin's backend (platform-kwin.cc), which the Linux system backend hands a KDE Plasma session.
std::unique_ptr<Platform> createKwinPlatform(std::string& error);

}  // namespace shot
