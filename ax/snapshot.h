// The snapshot run: command line, trust check, preparation of the target, the walk, and the one
// line of JSON the tool prints.
//
// runSnapshot is the whole tool minus the process: each front (vantic-ax, vantic-ax-replay)
// builds a Platform, calls it and writes the result with writeRunResult.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ax/platform.h"
#include "ax/walk.h"
#include "common/exit_status.h"

namespace ax {

// Exit statuses the callers rely on.
constexpr int kExitOk = mevrik::exit_status::ax::kOk;
constexpr int kExitNotTrusted = mevrik::exit_status::ax::kNotTrusted;
constexpr int kExitNoFrontmost =
    mevrik::exit_status::ax::kNoFrontmost;  // or no such --pid/--window

struct RunResult {
  std::string document;  // one line of JSON, without the trailing line feed
  int status = kExitOk;
};

// Applies the command line (without the program name) to the limits and flags. Unknown arguments
// and values that do not parse are dropped silently; an option word always consumes the argument
// after it, whatever it looks like.
void parseOptions(const std::vector<std::string>& args, RunState& state);

// Runs the whole snapshot against the platform. Nothing is written; the result holds the text.
RunResult runSnapshot(Platform& platform, const std::vector<std::string>& args);

// The snapshot document of a finished walk; `elapsed` is the seconds since tStart.
std::string snapshotDocument(const RunState& state, const FrontmostApplication& frontmost,
                             double elapsed);

// The error line: {"error":MESSAGE}.
std::string errorLine(const std::string& message);

// The application a run reads: the one --window or --pid names, else the frontmost one. None,
// with `error` set to the line's message, when there is no such application or window.
std::optional<FrontmostApplication> targetApplication(Platform& platform, const RunState& state,
                                                      std::string& error);
// The window to walk in state.app: the one --window names, else the application's focused window,
// else its first window, else none. `unanswered` is set when there is none because the
// application did not answer in time.
Element targetWindow(Platform& platform, const RunState& state, bool& unanswered);

// Writes the document and then the line feed to `fd` as two writes (callers reading a pipe see the
// document before the line feed, as on macOS). Returns false when a write failed.
bool writeRunResult(int fd, const RunResult& result);

}  // namespace ax
