// mevrik-mcp: an MCP server over standard input and output that gives an agent the desktop
// tools. One JSON-RPC message per line each way; standard output carries nothing else.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "common/executable.h"
#include "common/output.h"
#include "mcp/server.h"

namespace {

// Longer lines are answered with a parse error and skipped, so that no client can make the
// server hold unbounded input.
constexpr size_t kLineCap = 4 * 1024 * 1024;

volatile std::sig_atomic_t caught = 0;

void onSignal(int number) {
  caught = number;
}

// Reads lines from standard input and answers each until the input ends or a stop signal comes.
// The stop signals are blocked except while waiting (here for input, in runChild for a tool), so
// that one arriving between two checks is not missed.
void serve(mcp::Server& server, const sigset_t& waitMask) {
  std::string line;
  bool skipping = false;  // inside a line beyond the cap
  char buffer[65536];
  for (;;) {
    pollfd input = {0, POLLIN, 0};
    if (::ppoll(&input, 1, nullptr, &waitMask) < 0 && errno != EINTR) break;
    if (caught != 0) return;
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    for (ssize_t k = 0; k < n; ++k) {
      const char c = buffer[k];
      if (c != '\n') {
        if (!skipping) line.push_back(c);
        if (line.size() > kLineCap) {
          line.clear();
          skipping = true;
        }
        continue;
      }
      std::optional<std::string> answer =
          skipping ? server.handleLine("\x01") : server.handleLine(line);
      line.clear();
      skipping = false;
      if (answer && !mevrik::writeAll(1, *answer + "\n")) return;
      if (caught != 0) return;
    }
  }
  // A last message without a line end still counts.
  if (!skipping && !line.empty()) {
    if (auto answer = server.handleLine(line)) mevrik::writeAll(1, *answer + "\n");
  }
}

// A typing or pointer run that was killed (by a client, or by us past its budget when it ignored
// SIGTERM) may have left spare key codes bound, Caps Lock released or a button held; each tool
// keeps a journal of such changes and undoes them with --restore. This runner does both restores
// before the first tool this server runs, so that no tool acts on a desktop a killed run left
// changed, while starting up and answering `initialize` stay as quick as before. The restores'
// output is captured, so standard output still carries only the protocol.
class RestoringRunner : public mcp::Runner {
 public:
  RestoringRunner(mcp::Runner& inner, std::string toolFolder)
      : inner_(inner), toolFolder_(std::move(toolFolder)) {}

  mcp::ChildResult run(const std::string& program, const std::vector<std::string>& args,
                       double budgetSeconds) override {
    if (!restored_) {
      restored_ = true;
      constexpr double kRestoreBudgetSeconds = 2;
      for (const char* tool : {"vantic-type", "vantic-click"}) {
        const std::string path = toolFolder_ + "/" + tool;
        if (::access(path.c_str(), X_OK) == 0)
          inner_.run(path, {"--restore"}, kRestoreBudgetSeconds);
      }
    }
    return inner_.run(program, args, budgetSeconds);
  }

 private:
  mcp::Runner& inner_;
  std::string toolFolder_;
  bool restored_ = false;
};

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);  // a client that went away ends us through a failed write
  // A stop signal ends the running tool (SIGTERM, then SIGKILL after a grace) and the server,
  // which removes its scratch folder on the way out and then ends by the same signal.
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, number);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
  {
    mcp::ProcessRunner processes({&waitMask, [] { return caught != 0; }});
    const std::string toolFolder = mevrik::executableFolder();  // the tools lie beside it
    RestoringRunner runner(processes, toolFolder);
    mcp::Server server(toolFolder, MEVRIK_VERSION, runner);
    serve(server, waitMask);
  }
  if (caught != 0) {
    std::signal(caught, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
    std::raise(caught);
  }
  return 0;
}
