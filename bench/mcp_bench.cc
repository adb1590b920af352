// The MCP server's cost per call: tools/call through a running mevrik-mcp next to running the
// tool directly (spawned, output read, waited for, as the server itself does), alternating in
// one run. Run on a desktop: bench/mcp_bench.sh BUILD_DIR [--runs N] [--at X Y].
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mcp/child.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A running server with a pipe each way.
struct Server {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
  std::string pending;

  bool start(const std::string& path) {
    int toServer[2], fromServer[2];
    if (::pipe2(toServer, O_CLOEXEC) != 0 || ::pipe2(fromServer, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toServer[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromServer[1], 1);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toServer[0]);
    ::close(fromServer[1]);
    in = toServer[1];
    out = fromServer[0];
    return rc == 0;
  }
  // Sends one request and returns the answer line.
  std::string call(const std::string& request) {
    const std::string line = request + "\n";
    if (::write(in, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "";
    for (;;) {
      const size_t end = pending.find('\n');
      if (end != std::string::npos) {
        std::string answer = pending.substr(0, end);
        pending.erase(0, end + 1);
        return answer;
      }
      char buffer[65536];
      const ssize_t n = ::read(out, buffer, sizeof buffer);
      if (n <= 0) return "";
      pending.append(buffer, static_cast<size_t>(n));
    }
  }
  ~Server() {
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
  }
};

double milliseconds(const std::function<bool()>& run) {
  const auto start = Clock::now();
  if (!run()) {
    std::fprintf(stderr, "mcp_bench: a run failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// User plus system time of a running process, from /proc/PID/stat.
double cpuSeconds(pid_t pid) {
  FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!file) return 0;
  char text[4096] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  // Fields after the command name (which may hold spaces) start after the last ')'.
  const char* rest = std::strrchr(text, ')');
  if (!rest || n == 0) return 0;
  unsigned long utime = 0, stime = 0;
  if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                  &stime) != 2) {
    return 0;
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char* name, const std::vector<double>& direct, const std::vector<double>& mcp) {
  std::vector<double> added;
  for (size_t k = 0; k < direct.size(); ++k) added.push_back(mcp[k] - direct[k]);
  std::printf(
      "%-9s direct %8.2f ms   via MCP %8.2f ms   server adds %6.2f ms per call "
      "(median of %zu paired runs)\n",
      name, median(direct), median(mcp), median(added), direct.size());
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 30;
  std::string x = "5", y = "5";
  for (int k = 1; k < argc; ++k) {
    if (!std::strcmp(argv[k], "--runs") && k + 1 < argc) {
      runs = std::atoi(argv[++k]);
    } else if (!std::strcmp(argv[k], "--at") && k + 2 < argc) {
      x = argv[++k];
      y = argv[++k];
    } else {
      std::fprintf(stderr, "usage: mcp_bench [--runs N] [--at X Y]\n");
      return 2;
    }
  }
  const std::string server = MEVRIK_MCP_PATH;
  const std::string folder = server.substr(0, server.rfind('/'));
  Server mcp;
  if (!mcp.start(server)) return 1;
  mcp.call(
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})");

  const std::string snapshotCall =
      R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"snapshot","arguments":{}}})";
  const std::string clickCall =
      R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"click","arguments":{"x":)" +
      x + R"(,"y":)" + y + "}}}";
  const auto direct = [&](const char* tool, std::vector<std::string> args) {
    return [&folder, tool, args] {
      const mcp::ChildResult child = mcp::runChild(folder + "/" + tool, args, 30);
      return child.started && child.status == 0;
    };
  };
  const auto viaServer = [&mcp](const std::string& request) {
    return [&mcp, request] {
      const std::string answer = mcp.call(request);
      return answer.find("\"isError\":false") != std::string::npos;
    };
  };
  struct Pair {
    const char* name;
    std::function<bool()> direct, mcp;
    std::vector<double> directTimes, mcpTimes;
  };
  std::vector<Pair> pairs = {
      {"snapshot", direct("vantic-ax", {}), viaServer(snapshotCall), {}, {}},
      {"click", direct("vantic-click", {x, y}), viaServer(clickCall), {}, {}},
  };
  for (Pair& pair : pairs) {  // one warm-up of each
    pair.direct();
    pair.mcp();
  }
  for (int round = 0; round < runs; ++round) {
    for (Pair& pair : pairs) {
      // Alternate which goes first, so a drift in the desktop's speed favours neither.
      if (round % 2) {
        pair.directTimes.push_back(milliseconds(pair.direct));
        pair.mcpTimes.push_back(milliseconds(pair.mcp));
      } else {
        pair.mcpTimes.push_back(milliseconds(pair.mcp));
        pair.directTimes.push_back(milliseconds(pair.direct));
      }
    }
  }
  for (const Pair& pair : pairs) report(pair.name, pair.directTimes, pair.mcpTimes);
  // The server's own processor time (its children's is counted apart), which a loaded machine
  // stretches far less than wall time.
  const double calls = 2.0 * (runs + 1);
  std::printf("server    own CPU time %.3f ms per call (%.0f calls)\n",
              cpuSeconds(mcp.pid) * 1000 / calls, calls);
  return 0;
}
