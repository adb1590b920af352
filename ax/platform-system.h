// The real platform of the system the tool is built for. Each system backend (AT-SPI2 on Linux,
// Accessibility on macOS) defines this function; CMake picks which one links into vantic-ax.
#pragma once

#include <memory>

#include "ax/platform.h"

namespace ax {

// Never null: a backend that cannot reach the accessibility service answers as not trusted.
std::unique_ptr<Platform> makeSystemPlatform();

}  // namespace ax
