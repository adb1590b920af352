// Starting programs detached from vantic-win on POSIX systems, and finding desktop entries in the
// XDG applications folders.
#pragma once

#include <string>
#include <vector>

#include "win/platform.h"

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
