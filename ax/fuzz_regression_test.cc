// Replays the fuzzer's seed corpus and every input it ever found failing, as ordinary tests.
#include <gtest/gtest.h>

#include "ax/fuzz_check.h"
#include "ax/test_util.h"

namespace ax {
namespace {

TEST(FuzzRegressionTest, EveryKeptInputHoldsTheProperty) {
  int checked = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    const std::filesystem::path dir = std::filesystem::path(AX_FUZZ_DIR) / folder;
    if (!std::filesystem::exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string input = slurp(entry.path());
      std::string why;
      const FuzzOutcome outcome =
          checkFuzzInput(reinterpret_cast<const uint8_t*>(input.data()), input.size(), why);
      EXPECT_NE(outcome, FuzzOutcome::kFailed) << entry.path() << ": " << why;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace ax
