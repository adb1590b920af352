// What a tool's run gives back, and how a front hands it to the caller.
//
// The cores never write to the standard streams: a run's output, messages and exit status come
// back in a RunResult, so that tests compare them as values and the fronts write them in one place.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mevrik {

struct RunResult {
  int status = 0;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Writes out to standard output and err to standard error, flushes, and gives the status back.
int finish(const RunResult& result);

// Writes every byte of `data` to `fd`, retrying after signals and short writes. False when the
// descriptor refuses (closed pipe, full disk); what went before stays written.
bool writeAll(int fd, std::string_view data);

}  // namespace mevrik
