// The GNOME Shell backend of vantic-shot, which the Linux system backend hands a GNOME session.
#pragma once

#include <memory>
#include <string>

#include "shot/platform.h"

namespace shot {

std::unique_ptr<Platform> createGnomePlatform(std::string& error);

}  // namespace shot
