// Cost of the snapshot core per visited element, against the in-memory scene backend (whose own
// cost is included: it builds a value for every read, as a real backend does).
//
//   build/release/bench/ax_walk_bench
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "ax/snapshot.h"
#include "bench/ax_scenes.h"

namespace {

// 1 window + 99 groups + 99 x 201 children = 19,999 elements: all visited, under the 20,000 cap.
void walkScene(benchmark::State& state, const std::vector<std::string>& args) {
  const ax::Scene scene = axbench::generatedScene(99, 201);
  int64_t visited = 0;
  for (auto _ : state) {
    ax::ScenePlatform platform(scene);
    const ax::RunResult result = ax::runSnapshot(platform, args);
    benchmark::DoNotOptimize(result.document.data());
    const size_t at = result.document.find("\"visited\":");
    visited += at == std::string::npos ? 0 : std::atoll(result.document.c_str() + at + 10);
  }
  state.SetItemsProcessed(visited);
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(visited), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The whole run with every record kept (the record cap raised) and with the default cap of 300
// records, after which every visit returns at once.
void BM_Walk20000AllRecords(benchmark::State& state) {
  walkScene(state, {"--budget", "inf", "--max-elements", "100000"});
}
void BM_Walk20000Default300(benchmark::State& state) {
  walkScene(state, {"--budget", "inf"});
}
// The same scene copied into the fake only, to see what the backend copy itself costs.
void BM_SceneCopyOnly(benchmark::State& state) {
  const ax::Scene scene = axbench::generatedScene(99, 201);
  for (auto _ : state) {
    ax::ScenePlatform platform(scene);
    benchmark::DoNotOptimize(&platform);
  }
}

BENCHMARK(BM_Walk20000AllRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk20000Default300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SceneCopyOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
