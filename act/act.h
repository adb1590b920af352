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
#include "common/exit_status.h"

namespace act {

// Exit statuses the callers rely on (common/exit_status.h).
namespace status = mevrik::exit_status::act;
constexpr int kExitOk = status::kOk;
constexpr int kExitFailed = status::kFailed;
constexpr int kExitUsage = status::kUsage;
constexpr int kExitNotTrusted = status::kNotTrusted;
constexpr int kExitNoTarget = status::kNoTarget;
constexpr int kExitStale = status::kStale;
constexpr int kExitMismatch = status::kMismatch;
constexpr int kExitNoAction = status::kNoAction;

extern const char kUsage[];

// Runs the whole tool against the platform; the result holds the line (without its line feed).
ax::RunResult runAct(ax::Platform& platform, const std::vector<std::string>& args);

}  // namespace act
