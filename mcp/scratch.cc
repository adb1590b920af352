#include "mcp/scratch.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

namespace mcp {

const std::string& ScratchFolder::path() {
  if (!path_.empty()) return path_;
  // Any TMPDIR is taken as a folder name, spaces and all; a relative one is made absolute so
  // that no path given to a tool can read as an option. An unusable TMPDIR falls back to /tmp.
  std::string candidates[2] = {"", "/tmp"};
  if (const char* tmpdir = ::getenv("TMPDIR"); tmpdir && *tmpdir) {
    std::error_code error;
    candidates[0] = std::filesystem::absolute(tmpdir, error).string();
  }
  for (const std::string& base : candidates) {
    if (base.empty()) continue;
    std::string pattern = base + (base.back() == '/' ? "" : "/") + "mevrik-mcp-XXXXXX";
    if (::mkdtemp(pattern.data())) {
      path_ = pattern;
      break;
    }
  }
  return path_;
}

void ScratchFolder::remove() {
  if (path_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  path_.clear();
}

}  // namespace mcp
