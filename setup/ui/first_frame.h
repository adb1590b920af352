// Work that should not hold up a window's frame: it runs one event-loop turn after the widget's
// next paint, when the frame has been handed to the window system.
#pragma once

#include <chrono>
#include <functional>

class QWidget;

namespace setup {

// Runs `task` once, one turn after `widget`'s next paint event, or after `fallback` should no
// paint come (a window that is covered is not painted). Nothing runs if the widget goes away.
void runAfterNextFrame(QWidget& widget, std::function<void()> task,
                       std::chrono::milliseconds fallback = std::chrono::milliseconds(300));

// For the start-up benchmark (bench/setup_start): when the environment variable
// MEVRIK_BENCH_FIRST_FRAME names a file, the time on the monotonic clock (nanoseconds) and the
// resident memory (kB) right after `window`'s first frame are written to it, as one line
// "NANOSECONDS KILOBYTES". Without the variable nothing happens.
void reportFirstFrameForBenchmark(QWidget& window);

}  // namespace setup
