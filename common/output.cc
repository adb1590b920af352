#include "common/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace mevrik {

int finish(const RunResult& result) {
  std::fputs(result.out.c_str(), stdout);
  std::fputs(result.err.c_str(), stderr);
  std::fflush(stdout);
  return result.status;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace mevrik
