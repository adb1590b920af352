// The KWin backend of vantic-click (KDE Plasma on Wayland): KWin's fake input for the events,
// a KWin script for the windows, their stacking and the outputs (desktop/kde).
//
// - KWin maps absolute motion onto its outputs and would clamp a point outside all of them to
//   the nearest edge: such a point is refused instead, before any event.
// - A Wayland client cannot read the cursor's position, so the report says "?" for it and the
//   cursor stays where the action left it.
// - Fake input has no delivery to one process: every event goes to the seat.
#include <linux/input-event-codes.h>
#include <time.h>

#include <cstdio>
#include <vector>

#include "click/platform.h"
#include "desktop/kde/fake_input.h"
#include "desktop/kde/kwin.h"
#include "desktop/session.h"

namespace click {
namespace {

using mevrik::desktop::Box;
using mevrik::desktop::Window;

struct KwinEvent : Event {
  EventType type = kMouseMoved;
  MouseButton button = kButtonLeft;
  Point at;
  bool scroll = false;
  int32_t vertical = 0, horizontal = 0;
};

bool holds(const Box& b, Point at) {
  return at.x >= static_cast<double>(b.x) && at.x < static_cast<double>(b.x + b.width) &&
         at.y >= static_cast<double>(b.y) && at.y < static_cast<double>(b.y + b.height);
}

class KwinPlatform : public Platform {
 public:
  KwinPlatform(std::unique_ptr<mevrik::desktop::kde::FakeInput> input,
               mevrik::desktop::kde::Workspace workspace)
      : input_(std::move(input)), workspace_(std::move(workspace)) {}

  // The workspace was read once when the run started: a KWin script per question would cost
  // more than the whole action.
  int32_t frontmostPid() override {
    for (const Window& w : workspace_.windows) {
      if (w.focused) return w.pid;
    }
    return 0;
  }

  std::optional<Point> cursorPosition() override { return std::nullopt; }

  // The windows come bottom of the stack first: the last one that holds the point is on top.
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    for (auto w = workspace_.windows.rbegin(); w != workspace_.windows.rend(); ++w) {
      if (!holds(w->content, at)) continue;
      lookup.window = TargetWindow{static_cast<uint64_t>(w->id), w->pid, w->appId, w->title};
      break;
    }
    return lookup;
  }

  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override {
    auto event = std::make_unique<KwinEvent>();
    event->type = type;
    event->button = button;
    event->at = at;
    return event;
  }

  void setClickState(Event&, int64_t) override {}

  void postSystemWide(Event& e) override {
    auto& event = static_cast<KwinEvent&>(e);
    // After a refused point nothing more is sent, except releasing a button already pressed.
    const bool release =
        event.type == kLeftMouseUp || event.type == kRightMouseUp || event.type == kOtherMouseUp;
    if (lost_.empty() && !onOutput(event.at)) {
      char text[160];
      std::snprintf(text, sizeof text, "the point %.0f,%.0f lies on no output", event.at.x,
                    event.at.y);
      lost_ = text;
    }
    if (!lost_.empty()) {
      if (release && pressed_) press(event, false);
      return;
    }
    input_->pointerTo(event.at.x, event.at.y);
    if (event.scroll) {
      // The core's wheels count up and left as positive; Wayland's axes count down and right.
      input_->pointerWheel(-event.vertical, -event.horizontal);
    } else if (event.type != kMouseMoved && event.type != kLeftMouseDragged) {
      press(event, !release);
    }
    input_->flush(false);
  }

  void postToPid(int32_t, Event& event) override { postSystemWide(event); }

  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t) override {
    auto event = std::make_unique<KwinEvent>();
    event->scroll = true;
    event->vertical = wheel1;
    event->horizontal = wheel2;
    return event;
  }

  void setLocation(Event& event, Point at) override { static_cast<KwinEvent&>(event).at = at; }
  void release(std::unique_ptr<Event>) override {}

  void warpCursor(Point to) override {
    if (lost_.empty() && onOutput(to)) input_->pointerTo(to.x, to.y);
  }

  void sleepMicroseconds(uint32_t microseconds) override {
    input_->flush(true);
    timespec wait{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }

  std::string lostReason() override {
    if (!lost_.empty()) return lost_ + "; no pointer action was performed";
    input_->flush(true);
    std::string lost = input_->lostReason();
    return lost.empty() ? lost : lost + "; the pointer action may be incomplete";
  }

 private:
  bool onOutput(Point at) const {
    for (const auto& o : workspace_.outputs) {
      if (holds(o.area, at)) return true;
    }
    return false;
  }

  void press(const KwinEvent& event, bool down) {
    const uint32_t code = event.button == kButtonRight    ? BTN_RIGHT
                          : event.button == kButtonCenter ? BTN_MIDDLE
                                                          : BTN_LEFT;
    input_->pointerButton(code, down);
    pressed_ = down;
    input_->flush(false);
  }

  std::unique_ptr<mevrik::desktop::kde::FakeInput> input_;
  mevrik::desktop::kde::Workspace workspace_;
  std::string lost_;
  bool pressed_ = false;
};

}  // namespace

std::unique_ptr<Platform> createKwinPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const std::string tail = "; no pointer action was performed";
  std::string why;
  auto kwin = kde::KWin::connect(why);
  std::optional<kde::Workspace> workspace;
  if (kwin) workspace = kwin->read();
  if (!workspace || workspace->outputs.empty()) {
    error = refusal(Session::kKde, "vantic-click",
                    "the outputs come from a KWin script: " +
                        (why.empty() ? std::string("KWin did not answer") : why),
                    "no pointer action was performed");
    return nullptr;
  }
  auto input = kde::FakeInput::connect("vantic-click", why);
  if (!input) {
    error = why + tail;
    return nullptr;
  }
  return std::make_unique<KwinPlatform>(std::move(input), std::move(*workspace));
}

}  // namespace click
