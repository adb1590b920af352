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
#include <time.h>

#include <cstdio>

#include "click/platform-wayland.h"
#include "desktop/gnome/shell.h"

namespace click {
namespace {

using mevrik::desktop::gnome::Shell;

struct ShellEvent : Event {
  EventType type = kMouseMoved;
  MouseButton button = kButtonLeft;
  Point at;
  bool scroll = false;
  int32_t vertical = 0, horizontal = 0;
};

// Clutter's button numbers.
uint32_t clutterButton(MouseButton button) {
  return button == kButtonRight ? 3 : button == kButtonCenter ? 2 : 1;
}

class GnomePlatform : public Platform {
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
      lookup.window = TargetWindow{static_cast<uint64_t>(window->id), window->pid, window->appId,
                                   window->title};
    }
    return lookup;
  }

  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override {
    auto event = std::make_unique<ShellEvent>();
    event->type = type;
    event->button = button;
    event->at = at;
    return event;
  }

  void setClickState(Event&, int64_t) override {}

  void postSystemWide(Event& e) override {
    auto& event = static_cast<ShellEvent&>(e);
    const bool release =
        event.type == kLeftMouseUp || event.type == kRightMouseUp || event.type == kOtherMouseUp;
    // After a refused point nothing more is sent, except releasing a button already pressed.
    if (!refused_.empty() || !failed_.empty() || !moveTo(event.at)) {
      if (release && pressed_) press(event, false);
      return;
    }
    if (event.scroll) {
      shell_->pointerScroll(event.horizontal, event.vertical);
    } else if (event.type != kMouseMoved && event.type != kLeftMouseDragged) {
      press(event, !release);
    }
  }

  void postToPid(int32_t, Event& event) override { postSystemWide(event); }

  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t) override {
    auto event = std::make_unique<ShellEvent>();
    event->scroll = true;
    event->vertical = wheel1;
    event->horizontal = wheel2;
    return event;
  }

  void setLocation(Event& event, Point at) override { static_cast<ShellEvent&>(event).at = at; }
  void release(std::unique_ptr<Event>) override {}

  void warpCursor(Point to) override {
    if (refused_.empty() && failed_.empty()) moveTo(to);
  }

  // The wait starts with a round trip, so that the shell has taken every event before it.
  void sleepMicroseconds(uint32_t microseconds) override {
    if (failed_.empty() && !shell_->pointer()) failed_ = shell_->lastError();
    timespec wait{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }

  std::string lostReason() override {
    if (!refused_.empty()) return refused_ + "; no pointer action was performed";
    if (failed_.empty() && !shell_->pointer()) failed_ = shell_->lastError();
    if (failed_.empty()) return {};
    return "GNOME Shell did not take the pointer events (" + failed_ +
           "); the pointer action may be incomplete";
  }

 private:
  // False when the point was refused or the shell did not answer; a point the pointer is at
  // already costs no call.
  bool moveTo(Point at) {
    if (at_ && at_->x == at.x && at_->y == at.y) return true;
    const std::optional<bool> moved = shell_->pointerMotion(at.x, at.y);
    if (!moved) {
      failed_ = shell_->lastError();
      return false;
    }
    if (!*moved) {
      char text[96];
      std::snprintf(text, sizeof text, "the point %.0f,%.0f lies on no monitor", at.x, at.y);
      refused_ = text;
      return false;
    }
    at_ = at;
    return true;
  }

  void press(const ShellEvent& event, bool down) {
    shell_->pointerButton(clutterButton(event.button), down);
    pressed_ = down;
  }

  std::unique_ptr<Shell> shell_;
  std::optional<Point> at_;  // where the last motion put the pointer
  std::string refused_;      // why a point was refused
  std::string failed_;       // why the shell did not answer
  bool pressed_ = false;
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
