// The wlroots backend of vantic-shot, which the Linux system backend hands a wlroots session.
#pragma once

#include <memory>
#include <string>

#include "shot/platform.h"

namespace shot {

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);

}  // namespace shot
