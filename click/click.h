// The pointer tool's core: one run of vantic-click, from its argument vector to its report line.
//
// Runs once from top to bottom against a Platform. Every output of a run (the report line, the
// usage text, the exit status) comes back in a RunResult, so that the command-line front writes
// it and a recorder can see it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "click/platform.h"
#include "common/journal.h"
#include "common/output.h"

namespace click {

// The usage text, written to standard error with exit status 2. It names only three kinds
// although every kind is accepted; callers match this text byte for byte.
inline constexpr char kUsage[] = "usage: vantic-click x y [left|right|double]\n";

// The fixed waits of the plans, in microseconds. The timing is part of the behaviour: toolkits
// count clicks and recognise drags by it.
inline constexpr uint32_t kApproachWait = 8000;   // after the approach move
inline constexpr uint32_t kDragStepWait = 12000;  // after each drag step
inline constexpr uint32_t kClickGap = 45000;      // between the clicks of a multi-click
inline constexpr uint32_t kRestoreWait = 20000;   // before the cursor goes back
inline constexpr int kDragSteps = 12;

// The state of one run. Each value is set once, in this order, except restoreCursor.
struct RunState {
  std::vector<std::string> args;  // element 0 is the program path
  std::string kind;               // args[3] when present, else "left"
  Point pt;                       // the target point
  int32_t pid = 0;                // frontmost application, 0 when none
  std::optional<Point> saved;     // the cursor before any event; none when unreadable
  bool restoreCursor = false;     // set by every action but "move" as soon as it is chosen
  std::optional<Point> now;       // the cursor at the end, after any restore
  // --expect-pid: the action is performed only when the point lies in a window of this process.
  std::optional<int32_t> expectPid;
  // Where the run notes a button it holds down before pressing it; none keeps no record.
  mevrik::Journal* journal = nullptr;
};

using RunResult = mevrik::RunResult;

// The action the kind argument chooses, with its operands.
struct Action {
  enum class Kind { kMove, kDrag, kScroll, kRight, kMiddle, kLeftClicks };
  Kind kind = Kind::kLeftClicks;
  Point end;               // Drag: the end point exactly as parsed
  int32_t horizontal = 0;  // Scroll: args[4]
  int32_t vertical = 0;    // Scroll: args[5]
  int clicks = 1;          // LeftClicks: 1, 2 or 3
};

// Reads kind and pt from state.args. "--expect-pid PID" may stand anywhere after the program
// path; it is taken out of state.args into expectPid first, so that the positions of the other
// arguments stay as they are. False when the arguments call for the usage text (also for
// --expect-pid without a positive 32-bit process id).
bool readArguments(RunState& state);

// The result of a run whose arguments call for the usage text: kUsage on standard error,
// nothing on standard output, status 2.
RunResult usage();

// Picks the action for state.kind and the operands; a "drag" or "scroll" whose operands are
// missing or invalid falls through to a single left click.
Action chooseAction(const RunState& state);

// Posts one mouse event: created with no source, click state set when clicks >= 1, delivered to
// state.pid when processLocal and the pid is known, else system-wide, then released. An event
// that cannot be created is skipped.
void post(Platform& platform, const RunState& state, EventType type, MouseButton button, Point at,
          int64_t clicks, bool processLocal = false);

// The report line, with its line feed.
std::string reportLine(const RunState& state);

// The run after readArguments accepted the arguments: the frontmost application and the cursor are
// read, the action is performed, the cursor is put back and the report is written.
RunResult perform(Platform& platform, RunState& state);

// The whole run: state.args must hold the argument vector.
RunResult run(Platform& platform, RunState& state);

// Releases a button that a killed run left down, as its journal lists it (a button that is up
// by now is left alone), and removes the journal. Gives the number of buttons released.
size_t restoreLeftovers(Platform& platform, mevrik::Journal& journal);

}  // namespace click
