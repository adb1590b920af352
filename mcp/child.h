// Running one tool as a child process: no shell, no PATH search, standard input from /dev/null
// (the server's own standard input carries the protocol), no other descriptor of the server, both
// outputs captured, and a budget after which the child is asked to stop, then killed.
#pragma once

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

namespace mcp {

// How long a child asked to stop (SIGTERM) has to put things back and end before it is killed
// (SIGKILL). vantic-type may be waiting up to 2 s for applications to read the keys it typed
// through spare key codes before it can put the keyboard map back.
inline constexpr double kStopGraceSeconds = 3;

struct ChildResult {
  bool started = false;
  std::string startError;  // why the child could not be started (when !started)
  int startErrno = 0;      // the same as an errno value
  bool timedOut = false;   // still running at the budget's end (or when the server was stopped)
  bool killed = false;     // still running after the grace that followed SIGTERM: SIGKILL
  int status = -1;         // exit status, or -1 when ended by a signal
  int signal = 0;          // the ending signal, or 0
  std::string out;
  std::string err;
};

// How the wait for a child meets the caller's signals: while waiting, the signal mask is
// `waitMask` (when given; a caller that blocks its stop signals elsewhere unblocks them here,
// without a window in which one could be missed), and after a signal `stopRequested` is asked
// whether to stop the child now.
struct StopSignals {
  const sigset_t* waitMask = nullptr;
  std::function<bool()> stopRequested;
};

// Runs `program` (an absolute path) with `args`, with default signal dispositions and an empty
// signal mask. A child still running after `budgetSeconds` gets SIGTERM, and SIGKILL if it is
// still running `graceSeconds` later; a stop request does the same at once.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     double budgetSeconds, double graceSeconds = kStopGraceSeconds,
                     const StopSignals& signals = {});

}  // namespace mcp
