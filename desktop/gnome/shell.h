// GNOME Shell's windows, focus and pointer, and pointer and key input, through Mevrik's shell
// extension on the session bus (com.fennick.Mevrik.Shell, installed by
// scripts/install_gnome_extension.sh): on Wayland GNOME tells no other client where windows are,
// and lets no client place the pointer at a point.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "desktop/windows.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GVariant GVariant;

namespace mevrik::desktop::gnome {

struct Point {
  int64_t x = 0;
  int64_t y = 0;
};

// The keyboard as the shell has it: whether the focused element takes input-method text, and the
// index of the layout in use among the keymap's groups.
struct Keyboard {
  bool inputMethod = false;
  uint32_t group = 0;
};

class Shell {
 public:
  // None, with the reason in `error`, when there is no session bus or the extension is not
  // running there (not installed, disabled, or installed since the session started).
  static std::unique_ptr<Shell> connect(std::string& error);
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // The managed windows, bottom of the stack first; none when the shell does not answer.
  std::optional<std::vector<Window>> windows();
  // The focused window; none when no window has the focus or the shell does not answer.
  std::optional<Window> focused();
  // Raises and focuses the window. False when no window has that id or the shell did not answer.
  bool activate(int64_t id);
  // The pointer's position in the layout's logical pixels.
  std::optional<Point> pointer();
  // The number of the workspace on show (from 0).
  std::optional<int64_t> activeWorkspace();
  // The monitors in the layout, the primary one first; none when the shell does not answer.
  std::optional<std::vector<Output>> outputs();
  // Whether Mutter lays the monitors out in points (its experimental fractional scaling, where a
  // toolkit's coordinates are the layout's on every monitor) rather than in the monitors' own
  // pixels; none when Mutter's display configuration did not answer.
  std::optional<bool> layoutInPoints();
  // A PNG of what the screen shows in `area` (logical pixels), at the monitors' scale; none, with
  // the shell's reason in `error`, when it could not be taken.
  std::optional<std::string> screenshot(const Box& area, std::string& error);

  // Blocks until the shell reports a change of the windows or the focus, or `seconds` pass. The
  // first call starts listening, so a caller that waits in a loop sees every change after it.
  void waitForChange(double seconds);

  // The topmost window shown on the active workspace whose frame holds the point: false when
  // the shell did not answer, else `window` is that window or none.
  bool windowAt(double x, double y, std::optional<Window>& window);

  // Input through the extension's virtual pointer and keyboard. What a caller holds down is
  // released by the shell when its connection closes (the process ends, even by SIGKILL).
  //
  // Moves the pointer to a point and answers once it is there: false when the point lies on no
  // monitor (nothing moves), none when the shell did not answer.
  std::optional<bool> pointerMotion(double x, double y);
  // Sent without waiting for an answer; a later call that waits comes after them.
  void pointerButton(uint32_t button, bool pressed);         // 1 left, 2 middle, 3 right
  void pointerScroll(int32_t horizontal, int32_t vertical);  // wheel clicks, up and left positive
  // Presses (true) and releases keysyms in order; answers once they are dispatched.
  bool keys(const std::vector<std::pair<uint32_t, bool>>& events);
  // Commits UTF-8 text to the focused element through the shell's input method: false when no
  // focused element takes text that way, none when the shell did not answer.
  std::optional<bool> commitText(const std::string& text);
  // The keyboard's state; none when the shell did not answer.
  std::optional<Keyboard> keyboard();
  // Presses (true) and releases keys by their Linux input codes, with `bindings` (xkb key name,
  // keysym) added to the layout in use for the call; the shell puts its keymap back before it
  // answers, or when this process leaves the bus. False when the shell does not know the layout
  // in use (nothing is typed), none when it did not answer.
  std::optional<bool> typeKeys(const std::vector<std::pair<uint32_t, bool>>& events,
                               const std::vector<std::pair<std::string, uint32_t>>& bindings);

  // Why the last call failed, "" after one that succeeded. A shell that runs an older version of
  // the extension does not know the input methods: it says so here.
  const std::string& lastError() const { return lastError_; }

 private:
  explicit Shell(GDBusConnection* bus) : bus_(bus) {}
  // Waits `timeoutMs` for the answer, or the usual time when 0.
  GVariant* call(const char* method, GVariant* arguments, const char* replyType, int timeoutMs = 0);
  void send(const char* method, GVariant* arguments);
  GDBusConnection* bus_;
  std::string lastError_;
  unsigned subscription_ = 0;
  bool changed_ = false;
};

// The parsing of the extension's JSON, apart from the bus, for tests: a window's content and
// frame are its frame rectangle (what the user sees as the window), and its surface starts at
// its buffer's origin (client-side shadows included). Workspace -1 means every workspace.
std::vector<Window> windowsOf(std::string_view json);
std::optional<Window> windowOf(std::string_view json);
std::vector<Output> outputsOf(std::string_view json);
std::optional<Keyboard> keyboardOf(std::string_view json);

// The one line a tool prints in a GNOME session whose shell does not run the extension: what
// went wrong (`why`, as connect gave it), what the user does about it, and what was therefore not
// done (`tail`).
std::string refusal(std::string_view tool, std::string_view why, std::string_view tail);

}  // namespace mevrik::desktop::gnome
