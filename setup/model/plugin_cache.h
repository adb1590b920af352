// Looking for the Mevrik plug-in in Codex's plug-in cache.
#pragma once

#include <string>
#include <string_view>

namespace setup {

// True when anything below `root` (a file, a folder, a link; at any depth, hidden entries
// included) is named exactly `name`; the walk stops at the first such entry. Only the part of the
// path below `root` counts, so the folders above it (a user called "mevrik") match nothing.
// Links to folders are reported but not entered, so a link cycle cannot trap the walk. A missing
// or unreadable `root` gives false; unreadable folders inside it are passed over.
bool containsEntryNamed(const std::string& root, std::string_view name);

}  // namespace setup
