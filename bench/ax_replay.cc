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

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  char dir[] = "/tmp/ax_replay_bench_XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string path = std::string(dir) + "/scene.json";
  std::ofstream(path) << sceneText();

  std::vector<double> ms;
  std::string program = AX_REPLAY_PATH;
  std::string scene = path;
  char* args[] = {program.data(), scene.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (int k = 0; k < runs; ++k) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) != 0 ||
        waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "replay run failed\n");
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  posix_spawn_file_actions_destroy(&actions);
  unlink(path.c_str());
  rmdir(dir);

  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  std::printf(
      "vantic-ax-replay, 300-record scene, %d runs: mean %.3f ms, median %.3f ms, "
      "min %.3f ms, max %.3f ms\n",
      runs, sum / runs, ms[ms.size() / 2], ms.front(), ms.back());
  return 0;
}
