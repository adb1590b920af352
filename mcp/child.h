// Running one tool as a child process: no shell, no PATH search, standard input from /dev/null
// (the server's own standard input carries the protocol), both outputs captured, and a deadline
// after which the child is killed.
#pragma once

#include <string>
#include <vector>

namespace mcp {

struct ChildResult {
  bool started = false;
  std::string startError;  // why the child could not be started (when !started)
  bool timedOut = false;   // killed at the deadline
  int status = -1;         // exit status, or -1 when ended by a signal
  int signal = 0;          // the ending signal, or 0
  std::string out;
  std::string err;
};

// Runs `program` (an absolute path) with `args` and waits at most `timeoutSeconds` for it to exit
// and close its outputs; a child still running then is killed with SIGKILL.
ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     double timeoutSeconds);

}  // namespace mcp
