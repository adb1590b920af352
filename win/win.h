// The window tool's core: one run of vantic-win, from its argument vector to its JSON line.
//
//   vantic-win list
//   vantic-win focus ID | --pid PID | --app NAME [--timeout S]
//   vantic-win launch DESKTOP-ID | -- COMMAND ARGS... [--timeout S]
//   vantic-win at X Y
//
// Every run prints one JSON line on standard output: {"windows":[RECORD,...]} for list, the
// window's RECORD for the others, or {"error":"..."}; bad arguments also write the usage text to
// standard error. A RECORD is
//
//   {"id":N,"app":"...","pid":N,"title":"...","x":N,"y":N,"w":N,"h":N,"focused":B,
//    "minimized":B,"desktop":N}
//
// with the frame on screen in screen points (the space vantic-click takes) and "desktop" only
// where the system has desktops (-1: on every desktop). Where the system tells no window's place
// (wlroots compositors without sway's IPC) x, y, w and h are left out and "at" is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/exit_status.h"
#include "common/output.h"
#include "win/platform.h"

namespace win {

inline constexpr char kUsage[] =
    "usage: vantic-win list\n"
    "       vantic-win focus ID | --pid PID | --app NAME [--timeout S]\n"
    "       vantic-win launch DESKTOP-ID | -- COMMAND ARGS... [--timeout S]\n"
    "       vantic-win at X Y\n";

// Exit statuses (common/exit_status.h).
inline constexpr int kDone = mevrik::exit_status::win::kOk;
inline constexpr int kUnreachable = mevrik::exit_status::win::kFailed;
inline constexpr int kBadArguments = mevrik::exit_status::win::kUsage;
inline constexpr int kNoWindowList = mevrik::exit_status::win::kNoWindowList;
inline constexpr int kNotFound = mevrik::exit_status::win::kNotFound;
inline constexpr int kNotActivated = mevrik::exit_status::win::kNotActivated;
inline constexpr int kLaunchFailed = mevrik::exit_status::win::kLaunchFailed;

// The default bounds of the waits, in seconds.
inline constexpr double kFocusTimeout = 2;
inline constexpr double kLaunchTimeout = 10;
// How long a launched process that has ended is given for a window to appear anyway: programs
// that hand the work to an instance already running exit at once, and that instance's new
// window is then the one asked for.
inline constexpr double kHandOffGrace = 1;
// The longest single wait for a change, so that a process's end is noticed promptly.
inline constexpr double kPollInterval = 0.1;
// A window that may still be moving into place is read every kSettleInterval until its frame
// has kept still for kSettleTime.
inline constexpr double kSettleInterval = 0.05;
inline constexpr double kSettleTime = 0.25;

struct Command {
  enum class Verb { kList, kFocus, kLaunch, kAt };
  Verb verb = Verb::kList;
  // focus: exactly one of these
  std::optional<uint64_t> id;
  std::optional<int32_t> pid;
  std::optional<std::string> app;
  // launch: a desktop id, or the command's arguments
  std::optional<std::string> desktopId;
  std::vector<std::string> argv;
  Point at;  // at
  double timeout = 0;
};

using RunResult = mevrik::RunResult;

// The command, or none with the reason in `error` when the arguments call for the usage text.
// args[0] is the program path.
std::optional<Command> readArguments(const std::vector<std::string>& args, std::string& error);

// The result of arguments that readArguments refused.
RunResult usage(const std::string& why);

// A one-line JSON error with its status.
RunResult failure(int status, const std::string& message);

// Runs a command that readArguments accepted.
RunResult perform(Platform& platform, const Command& command);

// The whole run.
RunResult run(Platform& platform, const std::vector<std::string>& args);

// The window's JSON record, without line feed.
std::string record(const Window& window);

// The command line of a desktop entry (the text of a .desktop file at `path`): its Exec key split
// by the entry format's quoting rules, with the field codes for files and URLs dropped (nothing
// is opened), %i, %c and %k expanded and %% as '%'. None, with the reason in `error`, when the
// entry is no application or its Exec cannot be used.
std::optional<std::vector<std::string>> desktopEntryCommand(std::string_view content,
                                                            std::string_view path,
                                                            std::string& error);

}  // namespace win
