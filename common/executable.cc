#include "common/executable.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#else
#include <unistd.h>
#endif

namespace mevrik {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string executableFolder() {
#if defined(__APPLE__)
  // macOS has no /proc: dyld knows the path the program was started by, which may be a link or
  // relative, so it is resolved like /proc/self/exe's target.
  uint32_t size = PATH_MAX;
  std::vector<char> path(size);
  if (_NSGetExecutablePath(path.data(), &size) != 0) {
    path.resize(size);
    if (_NSGetExecutablePath(path.data(), &size) != 0) return ".";
  }
  char resolved[PATH_MAX];
  if (!::realpath(path.data(), resolved)) return ".";
  return folderOf(resolved);
#else
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  return folderOf(std::string(path, static_cast<size_t>(n)));
#endif
}

}  // namespace mevrik
