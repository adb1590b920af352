// The GNOME Shell backend of vantic-win, which the Linux system backend hands a GNOME session.
#pragma once

#include <memory>
#include <string>

#include "win/platform.h"

namespace win {

std::unique_ptr<Platform> createGnomePlatform(std::string& error);

}  // namespace win
