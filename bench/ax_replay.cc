// Wall-clock cost of one whole vantic-ax-replay process (start, read and parse the scene, walk,
// write) on a 300-record scene, spawned N times. Prints mean, median, min and max in ms.
//
//   build/release/bench/ax_replay_bench [N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A window with 300 buttons (each a record) in 10 rows, written as scene JSON.
std::string sceneText() {
  std::ostringstream children, elements;
  for (int k = 0; k < 300; ++k) {
    children << (k ? "," : "") << "{\"ref\":\"b" << k << "\"}";
    elements << ",\"b" << k << "\":{\"AXRole\":\"AXButton\",\"AXTitle\":\"Button " << k
             << "\",\"AXPosition\":{\"point\":[" << 10 + k % 30 * 40 << "," << 10 + k / 30 * 30
             << "]},\"AXSize\":{\"size\":[36,24]},\"AXEnabled\":true}";
  }
  std::ostringstream scene;
  scene << "{\"frontmost\":{\"pid\":1,\"name\":\"Bench\",\"bundle\":\"org.example.bench\"},"
        << "\"elements\":{\"app\":{\"AXFocusedWindow\":{\"ref\":\"w\"}},\"w\":{\"AXRole\":"
        << "\"AXWindow\",\"AXTitle\":\"Bench\",\"AXChildren\":[" << children.str() << "]}"
        << elements.str() << "}}";
  return scene.str();
}

struct Figures {
  double mean, median, min, max;
};

Figures summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  return {sum / static_cast<double>(ms.size()), ms[ms.size() / 2], ms.front(), ms.back()};
}

// One run of the replay tool on the scene file, in ms; negative when the run failed.
double runOnce(const std::string& scenePath) {
  std::string program = AX_REPLAY_PATH;
  std::string scene = scenePath;
  char* args[] = {program.data(), scene.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = 0;
  const bool ok = posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) == 0 &&
                  waitpid(pid, &status, 0) >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return ok ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  char dir[] = "/tmp/ax_replay_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string big = std::string(dir) + "/scene300.json";
  const std::string empty = std::string(dir) + "/empty.json";
  std::ofstream(big) << sceneText();
  std::ofstream(empty) << "{}";

  // Interleaved, so that both scenes see the same machine load.
  std::vector<double> emptyMs, bigMs;
  bool ok = true;
  for (int k = 0; k < runs && ok; ++k) {
    emptyMs.push_back(runOnce(empty));
    bigMs.push_back(runOnce(big));
    ok = emptyMs.back() >= 0 && bigMs.back() >= 0;
  }
  unlink(big.c_str());
  unlink(empty.c_str());
  rmdir(dir);
  if (!ok) {
    std::fprintf(stderr, "a replay run failed\n");
    return 1;
  }
  const Figures emptyFigures = summarise(emptyMs), bigFigures = summarise(bigMs);
  for (const auto& [name, f] :
       {std::pair{"empty scene     ", emptyFigures}, std::pair{"300-record scene", bigFigures}}) {
    std::printf(
        "vantic-ax-replay, %s, %d runs: mean %.3f ms, median %.3f ms, min %.3f ms, "
        "max %.3f ms\n",
        name, runs, f.mean, f.median, f.min, f.max);
  }
  std::printf("300-record scene / empty scene (medians): %.2f\n",
              bigFigures.median / emptyFigures.median);
  return 0;
}
