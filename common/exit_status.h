// The exit statuses of the tools. Callers (the MCP server, scripts, agents) branch on them, so
// each number is part of the tool's interface: the tools return these names, the server reads
// them, and neither writes a bare number.
#pragma once

namespace mevrik::exit_status {

// vantic-ax (and vantic-ax-replay)
namespace ax {
inline constexpr int kOk = 0;
inline constexpr int kUsage = 2;  // vantic-ax-replay only: vantic-ax drops what it cannot read
inline constexpr int kNotTrusted = 3;
inline constexpr int kNoFrontmost = 4;  // also: no application or window for --pid/--window
}  // namespace ax

// vantic-act
namespace act {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;  // the application refused the action or did not confirm it
inline constexpr int kUsage = 2;
inline constexpr int kNotTrusted = 3;
inline constexpr int kNoTarget = 4;  // no frontmost application, or no such pid or window
inline constexpr int kStale = 5;     // the path no longer leads to an element
inline constexpr int kMismatch = 6;  // the element's role or label is not the expected one
inline constexpr int kNoAction = 7;  // the element has no such action
}  // namespace act

// vantic-click
namespace click {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;  // no display to act on, or the display went away
inline constexpr int kUsage = 2;
inline constexpr int kNoScroll = 3;  // a scroll event could not be made
inline constexpr int kRefused = 5;   // --expect-pid: the point is not the expected process's
}  // namespace click

// vantic-type
namespace type {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;  // no display, keys not found, or stopped before the end
inline constexpr int kUsage = 2;
}  // namespace type

// vantic-shot
namespace shot {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;  // no display, area off the screen, unreadable, unwritable
inline constexpr int kUsage = 2;
inline constexpr int kNoFrontmost = 4;
}  // namespace shot

// vantic-win
namespace win {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;  // no window system to talk to (no X display, Wayland)
inline constexpr int kUsage = 2;
inline constexpr int kNoWindowList = 3;  // the window manager keeps no EWMH window list
inline constexpr int kNotFound = 4;      // no such window, process, application or desktop
                                         // entry, or no window at the point
inline constexpr int kNotActivated = 5;  // the window closed, or was not active in time
inline constexpr int kLaunchFailed = 6;  // nothing started, it exited, or showed no window in time
}  // namespace win

}  // namespace mevrik::exit_status
