// KWin's windows, outputs and focus, through its scripting interface on the session bus
// (org.kde.kwin.Scripting): on Wayland KWin tells no other client where windows are, and the
// window-management protocol it offers lacks the surface's origin, which accessibility extents
// are relative to. A run loads a short script that reads the workspace and calls this process
// back over D-Bus with the answer, then unloads it.
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

namespace mevrik::desktop::kde {

struct Workspace {
  std::vector<Window> windows;  // bottom of the stack first
  std::vector<Output> outputs;
  std::optional<std::pair<int64_t, int64_t>> cursor;  // the pointer, in the outputs' pixels
};

// Pixels as KWin's screenshot interface gave them, 8-bit RGB, rows top to bottom, no padding.
struct Screenshot {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

class KWin {
 public:
  // None, with the reason in `error`, when there is no session bus or KWin is not on it.
  static std::unique_ptr<KWin> connect(std::string& error);
  ~KWin();
  KWin(const KWin&) = delete;
  KWin& operator=(const KWin&) = delete;

  // The managed windows (normal windows and dialogs) and the outputs; none when KWin did not
  // answer. Minimized windows are left out unless asked for (then with `visible` false). Each
  // call runs a script, so callers read once per run.
  std::optional<Workspace> read(bool withMinimized = false);
  // Raises and focuses the window (unminimizing it). False when no window has that id or KWin
  // did not answer.
  bool activate(int64_t id);
  // The picture of `area` (logical pixels in the layout) through org.kde.KWin.ScreenShot2, in
  // the outputs' own pixels (more than points on a scaled output), without the cursor. None,
  // with the reason in `error`, when KWin refused (it serves only programs whose desktop entry
  // lists the interface in X-KDE-DBUS-Restricted-Interfaces) or the picture did not arrive.
  std::optional<Screenshot> capture(const Box& area, std::string& error);

 private:
  explicit KWin(GDBusConnection* bus) : bus_(bus) {}
  // Loads the script (whose answer is a call of Answer(s, s) on this connection), runs it and
  // gives the two strings it answered; none after `timeoutMs` without an answer.
  std::optional<std::pair<std::string, std::string>> runScript(const std::string& body,
                                                               int timeoutMs);
  GDBusConnection* bus_;
};

// The parsing of the script's answer, apart from the bus, for tests.
Workspace workspaceOf(std::string_view windowsJson, std::string_view screenJson);

}  // namespace mevrik::desktop::kde
