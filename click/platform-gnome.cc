// The GNOME Shell backend of vantic-click: Mevrik's shell extension moves a virtual pointer inside
// the shell, tells the window in front and the one at a point, and reads the real cursor.
//
// - Motion goes to absolute points of the layout (logical pixels, the space of the extension's
//   window frames and of the snapshots). A point on no monitor would be clamped to the layout's
//   edge, so the extension refuses it and nothing more is sent.
// - The cursor is read before the action and put back after it, as on X11; a motion is answered
//   once the pointer is there, so the position read after the restore is the real one.
// - A button held when the run is killed is released by the shell when the run's bus connection
//   closes, so no journal is kept.
// - Wayland has no delivery to one process: every event goes to the seat.
#include "click/platform-wayland.h"
#include "desktop/gnome/shell.h"

namespace click {
namespace {

using mevrik::desktop::gnome::Shell;

class GnomePlatform : public CompositorPlatform {
 public:
  explicit GnomePlatform(std::unique_ptr<Shell> shell) : shell_(std::move(shell)) {}

  int32_t frontmostPid() override {
    const auto focused = shell_->focused();
    return focused ? focused->pid : 0;
  }

  std::optional<Point> cursorPosition() override {
    const auto at = shell_->pointer();
    if (!at) return std::nullopt;
    return Point{static_cast<double>(at->x), static_cast<double>(at->y)};
  }

  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    std::optional<mevrik::desktop::Window> window;
    if (!shell_->windowAt(at.x, at.y, window)) {
      lookup.error = "GNOME Shell does not answer: " + shell_->lastError();
    } else if (window) {
      lookup.window = targetOf(*window);
    }
    return lookup;
  }

 protected:
  // A point the pointer is at already costs no call.
  bool moveTo(Point at) override {
    if (!failed_.empty()) return false;
    if (at_ && at_->x == at.x && at_->y == at.y) return true;
    const std::optional<bool> moved = shell_->pointerMotion(at.x, at.y);
    if (!moved) {
      failed_ = shell_->lastError();
      return false;
    }
    if (!*moved) {
      refused_ = pointText(at) + " lies on no monitor";
      return false;
    }
    at_ = at;
    return true;
  }

  // Clutter's button numbers.
  void button(MouseButton button, bool down) override {
    shell_->pointerButton(button == kButtonRight ? 3 : button == kButtonCenter ? 2 : 1, down);
  }

  void wheel(int32_t vertical, int32_t horizontal) override {
    shell_->pointerScroll(horizontal, vertical);
  }

  // The shell answers a call only once it has taken every message sent before it.
  void roundTrip() override {
    if (failed_.empty() && !shell_->pointer()) failed_ = shell_->lastError();
  }

  std::string connectionLost() override {
    roundTrip();
    if (failed_.empty()) return {};
    return "GNOME Shell did not take the pointer events (" + failed_ + ")";
  }

 private:
  std::unique_ptr<Shell> shell_;
  std::optional<Point> at_;  // where the last motion put the pointer
  std::string failed_;       // why the shell did not answer
};

}  // namespace

std::unique_ptr<Platform> createGnomePlatform(std::string& error) {
  std::string why;
  auto shell = Shell::connect(why);
  if (!shell) {
    error = mevrik::desktop::gnome::refusal("vantic-click", why, "no pointer action was performed");
    return nullptr;
  }
  return std::make_unique<GnomePlatform>(std::move(shell));
}

}  // namespace click
