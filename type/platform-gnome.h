// The GNOME Shell backend of vantic-type, which the Linux system backend hands a GNOME session.
#pragma once

#include <memory>
#include <string>

#include "type/platform.h"

namespace type {

std::unique_ptr<Platform> createGnomePlatform(std::string& error);

}  // namespace type
