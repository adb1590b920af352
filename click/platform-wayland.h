// vantic-click-wayland's backends, one per compositor family; platform-wayland.cc picks the one
// for the session.
#pragma once

#include <memory>
#include <string>

#include "click/platform.h"

namespace click {

// sway and other wlroots compositors (platform-wlroots.cc).
std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);
// KWin (platform-kwin.cc).
std::unique_ptr<Platform> createKwinPlatform(std::string& error);
// GNOME Shell, through Mevrik's shell extension (platform-gnome.cc).
std::unique_ptr<Platform> createGnomePlatform(std::string& error);

}  // namespace click
