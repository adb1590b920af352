// For the start-up benchmark (bench/setup_start): when the environment variable
// MEVRIK_BENCH_FIRST_FRAME names a file, the time on the monotonic clock (nanoseconds) and the
// resident memory (kB) right after `window`'s first frame are written to it, as one line
// "NANOSECONDS KILOBYTES". Without the variable nothing is installed.
#pragma once

class QWidget;

namespace setup {

void reportFirstFrameForBenchmark(QWidget& window);

}  // namespace setup
