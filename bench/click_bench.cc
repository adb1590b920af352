// The whole-process cost of one vantic-click action next to xdotool doing the same, in one run.
//
// Each run starts the program, lets it click once with the left button over the given point and
// put the pointer back, and waits for it to end. vantic-click sleeps 28 ms of its own plan during
// a left click (8 ms after the approach, 20 ms before the restore); xdotool sleeps 12 us between
// press and release. Those fixed waits are subtracted, so the figures compare the work: process
// start, connection, requests. The two programs alternate so that both see the same machine.
//
// Each --baseline adds another build of vantic-click (an earlier version, say) to the same
// rotation, so a change is measured side by side with what it replaces.
//
//   click_bench [--runs N] [--tool PATH] [--baseline PATH] [--at X,Y]
//                            (needs DISPLAY: run it on the test desktop, bench/click_bench.sh)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr double kToolWaitsMs = 28.0;
constexpr double kXdotoolWaitsMs = 0.012;

struct Contender {
  std::string name;
  std::vector<std::string> argv;
  double waitsMs;
  std::vector<double> ms;     // wall time
  std::vector<double> cpuMs;  // user + system time of the process
};

struct Timing {
  double wallMs = -1;
  double cpuMs = -1;
};

// Runs argv to its end with its output discarded.
Timing timeRun(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {std::chrono::duration<double, std::milli>(end - start).count(),
          ms(usage.ru_utime) + ms(usage.ru_stime)};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 40;
  std::string tool = VANTIC_CLICK_PATH;
  std::vector<std::string> baselines;
  std::string x = "600", y = "770";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--runs") {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (opt == "--tool") {
      tool = argv[i + 1];
    } else if (opt == "--baseline") {
      baselines.push_back(argv[i + 1]);
    } else if (opt == "--at" && std::strchr(argv[i + 1], ',')) {
      std::string at = argv[i + 1];
      x = at.substr(0, at.find(','));
      y = at.substr(at.find(',') + 1);
    } else {
      std::fprintf(stderr,
                   "usage: click_bench [--runs N] [--tool PATH] [--baseline PATH] [--at X,Y]\n");
      return 2;
    }
  }
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "click_bench: no DISPLAY; run it on the test desktop\n");
    return 1;
  }

  std::vector<Contender> contenders = {
      {"vantic-click X Y", {tool, x, y}, kToolWaitsMs, {}, {}},
      {"xdotool mousemove X Y click --delay 0 1 mousemove restore",
       {"xdotool", "mousemove", x, y, "click", "--delay", "0", "1", "mousemove", "restore"},
       kXdotoolWaitsMs,
       {},
       {}},
  };
  for (const auto& path : baselines) {
    contenders.push_back({path + " X Y", {path, x, y}, kToolWaitsMs, {}, {}});
  }
  // A few unrecorded runs first, so that both start with warm caches.
  for (int i = 0; i < 3; ++i) {
    for (auto& c : contenders) timeRun(c.argv);
  }
  for (int i = 0; i < runs; ++i) {
    for (auto& c : contenders) {
      Timing t = timeRun(c.argv);
      if (t.wallMs < 0) {
        std::fprintf(stderr, "click_bench: %s failed\n", c.argv[0].c_str());
        return 1;
      }
      c.ms.push_back(t.wallMs);
      c.cpuMs.push_back(t.cpuMs);
    }
  }

  std::printf("one left click at %s,%s with the pointer put back; %d runs each, alternating\n",
              x.c_str(), y.c_str(), runs);
  std::printf("%-60s %8s %8s %8s %7s %8s %8s %8s %8s\n", "command", "min ms", "median", "mean",
              "waits", "min-w", "median-w", "cpu min", "cpu med");
  std::vector<double> work, workMin, cpu, cpuMin;
  for (const auto& c : contenders) {
    double mean = std::accumulate(c.ms.begin(), c.ms.end(), 0.0) / c.ms.size();
    double med = median(c.ms);
    double lowest = *std::min_element(c.ms.begin(), c.ms.end());
    work.push_back(med - c.waitsMs);
    workMin.push_back(lowest - c.waitsMs);
    cpu.push_back(median(c.cpuMs));
    cpuMin.push_back(*std::min_element(c.cpuMs.begin(), c.cpuMs.end()));
    std::printf("%-60s %8.2f %8.2f %8.2f %7.3f %8.2f %8.2f %8.2f %8.2f\n", c.name.c_str(), lowest,
                med, mean, c.waitsMs, workMin.back(), work.back(), cpuMin.back(), cpu.back());
  }
  // Ratios to xdotool (contender 1) of every vantic-click build.
  for (size_t i = 0; i < contenders.size(); ++i) {
    if (i == 1) continue;
    const std::string which = i == 0 ? "vantic-click" : contenders[i].argv[0];
    std::printf("%s / xdotool, wall time minus fixed waits: median %.2f, min %.2f\n", which.c_str(),
                work[i] / work[1], workMin[i] / workMin[1]);
    std::printf(
        "%s / xdotool, cpu time (the figure that a busy machine does not distort): median %.2f, "
        "min %.2f\n",
        which.c_str(), cpu[i] / cpu[1], cpuMin[i] / cpuMin[1]);
  }
  return 0;
}
