// The wlroots backend of vantic-click (sway and other wlroots compositors): a virtual pointer
// (wlr-virtual-pointer) for the events, sway's IPC for the window in front and the outputs.
//
// - Absolute motion is mapped by the compositor onto the bounding box of all outputs, and a point
//   outside it would be clamped to its edge: such a point is refused instead, before any event.
// - A Wayland client cannot read the cursor's position, so the report says "?" for it and the
//   cursor stays where the action left it.
// - Wayland has no delivery to one process: every event goes to the seat.
// - The compositor handles the connection's requests in order; every wait starts with a round
//   trip, so the gaps that applications see are the plan's.
#include <linux/input-event-codes.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "click/platform.h"
#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/client.h"

namespace click {
namespace {

using mevrik::desktop::Box;

struct WaylandEvent : Event {
  EventType type = kMouseMoved;
  MouseButton button = kButtonLeft;
  Point at;
  bool scroll = false;
  int32_t vertical = 0, horizontal = 0;
};

class WlrootsPlatform : public Platform {
 public:
  WlrootsPlatform(std::unique_ptr<mevrik::desktop::sway::Ipc> ipc,
                  std::unique_ptr<mevrik::desktop::wlroots::Client> client, Box layout)
      : ipc_(std::move(ipc)), client_(std::move(client)), layout_(layout) {}

  int32_t frontmostPid() override {
    for (const mevrik::desktop::Window& w :
         ipc_->windows().value_or(std::vector<mevrik::desktop::Window>{})) {
      if (w.focused) return w.pid;
    }
    return 0;
  }

  std::optional<Point> cursorPosition() override { return std::nullopt; }

  // sway lists the windows of every workspace without their stacking, so a point held by
  // several windows' content is answered only when the focused window is one of them (it is
  // shown and on top); otherwise the guard is told that sway cannot say.
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    auto windows = ipc_->windows();
    if (!windows) {
      lookup.error = "sway does not answer";
      return lookup;
    }
    std::vector<const mevrik::desktop::Window*> holding;
    for (const auto& w : *windows) {
      const auto& b = w.content;
      if (at.x >= static_cast<double>(b.x) && at.x < static_cast<double>(b.x + b.width) &&
          at.y >= static_cast<double>(b.y) && at.y < static_cast<double>(b.y + b.height)) {
        holding.push_back(&w);
      }
    }
    const mevrik::desktop::Window* found = holding.size() == 1 ? holding[0] : nullptr;
    for (const auto* w : holding) {
      if (w->focused) found = w;
    }
    if (found) {
      lookup.window =
          TargetWindow{static_cast<uint64_t>(found->id), found->pid, found->appId, found->title};
    } else if (holding.size() > 1) {
      lookup.error = "several sway windows hold the point and none of them has the focus";
    }
    return lookup;
  }

  std::unique_ptr<Event> createMouseEvent(EventType type, MouseButton button, Point at) override {
    auto event = std::make_unique<WaylandEvent>();
    event->type = type;
    event->button = button;
    event->at = at;
    return event;
  }

  void setClickState(Event&, int64_t) override {}

  void postSystemWide(Event& e) override {
    auto& event = static_cast<WaylandEvent&>(e);
    // After a refused point nothing more is sent, except releasing a button already pressed.
    const bool release =
        event.type == kLeftMouseUp || event.type == kRightMouseUp || event.type == kOtherMouseUp;
    if (!lost_.empty()) {
      if (release && pressed_) press(event, false);
      return;
    }
    if (!client_->pointerTo(event.at.x, event.at.y, layout_)) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the point %.0f,%.0f lies on no output (the outputs span %lld,%lld %lldx%lld)",
                    event.at.x, event.at.y, static_cast<long long>(layout_.x),
                    static_cast<long long>(layout_.y), static_cast<long long>(layout_.width),
                    static_cast<long long>(layout_.height));
      lost_ = text;
      if (release && pressed_) press(event, false);
      return;
    }
    if (event.scroll) {
      // The core's wheels count up and left as positive; Wayland's axes count down and right.
      client_->pointerWheel(-event.vertical, -event.horizontal);
    } else if (event.type != kMouseMoved && event.type != kLeftMouseDragged) {
      press(event, !release);
    }
    client_->flush(false);
  }

  void postToPid(int32_t, Event& event) override { postSystemWide(event); }

  std::unique_ptr<Event> createScrollEvent(int32_t wheel1, int32_t wheel2, int32_t) override {
    auto event = std::make_unique<WaylandEvent>();
    event->scroll = true;
    event->vertical = wheel1;
    event->horizontal = wheel2;
    return event;
  }

  void setLocation(Event& event, Point at) override { static_cast<WaylandEvent&>(event).at = at; }
  void release(std::unique_ptr<Event>) override {}

  void warpCursor(Point to) override {
    if (lost_.empty()) client_->pointerTo(to.x, to.y, layout_);
  }

  void sleepMicroseconds(uint32_t microseconds) override {
    client_->flush(true);
    timespec wait{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
  }

  std::string lostReason() override {
    if (!lost_.empty()) return lost_ + "; no pointer action was performed";
    client_->flush(true);
    std::string lost = client_->lostReason();
    return lost.empty() ? lost : lost + "; the pointer action may be incomplete";
  }

 private:
  void press(const WaylandEvent& event, bool down) {
    const uint32_t code = event.button == kButtonRight    ? BTN_RIGHT
                          : event.button == kButtonCenter ? BTN_MIDDLE
                                                          : BTN_LEFT;
    client_->pointerButton(code, down);
    pressed_ = down;
    client_->flush(false);
  }

  std::unique_ptr<mevrik::desktop::sway::Ipc> ipc_;
  std::unique_ptr<mevrik::desktop::wlroots::Client> client_;
  Box layout_;
  std::string lost_;
  bool pressed_ = false;
};

}  // namespace

// KWin's backend, in platform-kwin.cc.
std::unique_ptr<Platform> createKwinPlatform(std::string& error);

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const Session session = detectSession();
  if (session == Session::kKde) return createKwinPlatform(error);
  const std::string tail = "no pointer action was performed";
  if (session != Session::kWlroots) {
    error = refusal(session, "vantic-click", "this backend serves wlroots compositors", tail);
    return nullptr;
  }
  std::string why;
  auto ipc = sway::Ipc::connect(why);
  std::optional<std::vector<Output>> outputs;
  if (ipc) outputs = ipc->outputs();
  if (!outputs || outputs->empty()) {
    error =
        refusal(session, "vantic-click",
                "the outputs come from sway's IPC: " + (why.empty() ? "no outputs" : why), tail);
    return nullptr;
  }
  auto client = wlroots::Client::connect(wlroots::Client::kPointer, why);
  if (!client) {
    error = why + "; " + tail;
    return nullptr;
  }
  Box layout = outputs->front().area;
  for (const Output& o : *outputs) {
    const int64_t right = std::max(layout.x + layout.width, o.area.x + o.area.width);
    const int64_t bottom = std::max(layout.y + layout.height, o.area.y + o.area.height);
    layout.x = std::min(layout.x, o.area.x);
    layout.y = std::min(layout.y, o.area.y);
    layout.width = right - layout.x;
    layout.height = bottom - layout.y;
  }
  return std::make_unique<WlrootsPlatform>(std::move(ipc), std::move(client), layout);
}

}  // namespace click
