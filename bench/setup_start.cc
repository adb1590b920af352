// setup_start_bench: from process start to the first painted frame of the window, and the
// resident memory right after it, for Mevrik and for a bare Qt Widgets window with one label,
// started alternately in one run on the same display.
//
//   setup_start_bench [rounds (10)]
//
// Each program writes its first-frame time (monotonic clock) and memory to the file named by
// MEVRIK_BENCH_FIRST_FRAME; the time is counted from just before the fork. Run it on a desktop
// (bench/setup_start.sh starts the test desktop with a tray host).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Sample {
  double ms = 0;
  double rssMb = 0;
};

long long monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts `program`, waits for its first-frame line (at most 20 s), then ends it.
bool measure(const std::string& program, const std::string& report, Sample& out) {
  std::remove(report.c_str());
  setenv("MEVRIK_BENCH_FIRST_FRAME", report.c_str(), 1);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const long long start = monotonicNs();
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  long long frameNs = 0, rssKb = 0;
  for (int i = 0; i < 20000 && frameNs == 0; ++i) {
    std::ifstream in(report);
    std::string line;
    if (std::getline(in, line) && in.good())
      std::sscanf(line.c_str(), "%lld %lld", &frameNs, &rssKb);
    if (frameNs == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  if (frameNs == 0) return false;
  out = {static_cast<double>(frameNs - start) / 1e6, static_cast<double>(rssKb) / 1024};
  return true;
}

Sample median(std::vector<Sample> samples) {
  auto mid = [&](auto field) {
    std::vector<double> values;
    for (const Sample& s : samples) values.push_back(s.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  return {mid(&Sample::ms), mid(&Sample::rssMb)};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
  const std::string programs[2] = {MEVRIK_PATH, BARE_WINDOW_PATH};
  const char* names[2] = {"Mevrik", "bare Qt window"};
  const std::string report = "/tmp/setup-start-bench-" + std::to_string(getpid());
  std::vector<Sample> samples[2];
  // One warm-up start each (fonts and libraries into the page cache), then alternate.
  for (int round = -1; round < rounds; ++round) {
    for (int which : {0, 1}) {
      const int p = round % 2 == 0 ? which : 1 - which;
      Sample s;
      if (!measure(programs[p], report, s)) {
        std::fprintf(stderr, "setup_start_bench: %s reported no frame\n", programs[p].c_str());
        return 1;
      }
      if (round >= 0) samples[p].push_back(s);
    }
  }
  std::remove(report.c_str());
  Sample m[2] = {median(samples[0]), median(samples[1])};
  std::printf("%d rounds, medians: start to first frame, resident memory after it\n", rounds);
  for (int p : {0, 1}) {
    const auto fastest =
        std::min_element(samples[p].begin(), samples[p].end(),
                         [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
    std::printf("%-15s %7.1f ms (fastest %6.1f ms)  %6.1f MB\n", names[p], m[p].ms, fastest->ms,
                m[p].rssMb);
  }
  std::printf("ratio Mevrik / bare window: %.2fx time, %.2fx memory\n", m[0].ms / m[1].ms,
              m[0].rssMb / m[1].rssMb);
  return 0;
}
