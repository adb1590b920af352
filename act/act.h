// The action run of vantic-act: finds an element again by the path a snapshot printed, checks
// that it is still the element the caller means, invokes its own action (press, focus, set-text)
// and reports its state afterwards as one line of JSON.
//
// It reads the target through ax::Platform with the snapshot's own rules (target, window, roles,
// labels), so what the snapshot printed is what the checks compare with.
#pragma once

#include <string>
#include <vector>

#include "ax/platform.h"
#include "ax/snapshot.h"

namespace act {

// Exit statuses the callers rely on.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the application refused the action or did not answer
constexpr int kExitUsage = 2;
constexpr int kExitNotTrusted = 3;
constexpr int kExitNoTarget = 4;  // no frontmost application, or no such pid or window
constexpr int kExitStale = 5;     // the path no longer leads to an element
constexpr int kExitMismatch = 6;  // the element's role or label is not the expected one
constexpr int kExitNoAction = 7;  // the element has no such action

extern const char kUsage[];

// Runs the whole tool against the platform; the result holds the line (without its line feed).
ax::RunResult runAct(ax::Platform& platform, const std::vector<std::string>& args);

}  // namespace act
