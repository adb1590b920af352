// The wlroots backend of vantic-type, which the Linux system backend hands a wlroots session.
#pragma once

#include <memory>
#include <string>

#include "type/platform.h"

namespace type {

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);

// The X11 backend on XWayland's X server ($DISPLAY), for an X11 window in front under a
// Wayland compositor (platform-x11.cc).
std::unique_ptr<Platform> createXwaylandPlatform(std::string& error);

}  // namespace type

namespace type {

// KWin's backend (platform-kwin.cc), which the Linux system backend hands a KDE Plasma session.
std::unique_ptr<Platform> createKwinPlatform(std::string& error);

}  // namespace type
