// The wlroots backend of vantic-click (sway and other wlroots compositors): a virtual pointer
// (wlr-virtual-pointer) for the events, sway's IPC for the window in front and the outputs.
//
// - Absolute motion is mapped by the compositor onto the bounding box of all outputs, and a point
//   on no output (outside the box, or in a gap between outputs of different sizes or scales)
//   would be moved to the nearest output's edge: such a point is refused instead, before any
//   event.
// - A Wayland client cannot read the cursor's position, so the report says "?" for it and the
//   cursor stays where the action left it.
// - The compositor handles the connection's requests in order, so a round trip before each wait
//   (platform-injecting.h) keeps the plan's gaps.
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "click/platform-injecting.h"
#include "click/platform-wayland.h"
#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/client.h"

namespace click {
namespace {

using mevrik::desktop::Box;

class WlrootsPlatform : public InjectingPlatform {
 public:
  WlrootsPlatform(std::unique_ptr<mevrik::desktop::sway::Ipc> ipc,
                  std::unique_ptr<mevrik::desktop::wlroots::Client> client,
                  std::vector<mevrik::desktop::Output> outputs, Box layout)
      : ipc_(std::move(ipc)),
        client_(std::move(client)),
        outputs_(std::move(outputs)),
        layout_(layout) {}

  int32_t frontmostPid() override {
    for (const mevrik::desktop::Window& w :
         ipc_->windows().value_or(std::vector<mevrik::desktop::Window>{})) {
      if (w.focused) return w.pid;
    }
    return 0;
  }

  std::optional<Point> cursorPosition() override { return std::nullopt; }

  // The topmost shown window whose frame holds the point, as vantic-win's "at" names it: sway's
  // windows come topmost first.
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    auto windows = ipc_->windows();
    if (!windows) {
      lookup.error = "sway does not answer";
      return lookup;
    }
    for (const auto& w : *windows) {
      const auto& b = w.frame;
      if (w.visible && at.x >= static_cast<double>(b.x) &&
          at.x < static_cast<double>(b.x + b.width) && at.y >= static_cast<double>(b.y) &&
          at.y < static_cast<double>(b.y + b.height)) {
        lookup.window = TargetWindow{static_cast<uint64_t>(w.id), w.pid, w.appId, w.title};
        break;
      }
    }
    return lookup;
  }

  void warpCursor(Point to) override {
    if (lost_.empty() && onOutput(to)) client_->pointerTo(to.x, to.y, layout_);
  }

  std::string lostReason() override {
    if (!lost_.empty()) return lost_ + "; no pointer action was performed";
    client_->flush(true);
    std::string lost = client_->lostReason();
    return lost.empty() ? lost : lost + "; the pointer action may be incomplete";
  }

 protected:
  void post(const InjectedEvent& event) override {
    // After a refused point nothing more is sent, except releasing a button already pressed.
    const bool release = event.releases();
    if (!lost_.empty()) {
      if (release && pressed_) press(event, false);
      return;
    }
    if (!onOutput(event.at) || !client_->pointerTo(event.at.x, event.at.y, layout_)) {
      char point[64];
      std::snprintf(point, sizeof point, "the point %.0f,%.0f", event.at.x, event.at.y);
      lost_ = std::string(point) + " lies on no output (the outputs are " + outputList() + ")";
      if (release && pressed_) press(event, false);
      return;
    }
    if (event.scroll) {
      // The core's wheels count up and left as positive; Wayland's axes count down and right.
      client_->pointerWheel(-event.vertical, -event.horizontal);
    } else if (event.presses() || release) {
      press(event, !release);
    }
    client_->flush(false);
  }

  void roundTrip() override { client_->flush(true); }

 private:
  bool onOutput(Point at) const {
    return std::any_of(outputs_.begin(), outputs_.end(), [&](const mevrik::desktop::Output& o) {
      const Box& b = o.area;
      return at.x >= static_cast<double>(b.x) && at.y >= static_cast<double>(b.y) &&
             at.x < static_cast<double>(b.x + b.width) &&
             at.y < static_cast<double>(b.y + b.height);
    });
  }

  // "0,0 1280x800 and 1280,0 640x400"
  std::string outputList() const {
    std::string out;
    for (size_t i = 0; i < outputs_.size(); ++i) {
      const Box& b = outputs_[i].area;
      if (i) out += i + 1 == outputs_.size() ? " and " : ", ";
      out += std::to_string(b.x) + "," + std::to_string(b.y) + " " + std::to_string(b.width) + "x" +
             std::to_string(b.height);
    }
    return out;
  }

  void press(const InjectedEvent& event, bool down) {
    const uint32_t code = event.button == kButtonRight    ? BTN_RIGHT
                          : event.button == kButtonCenter ? BTN_MIDDLE
                                                          : BTN_LEFT;
    client_->pointerButton(code, down);
    pressed_ = down;
    client_->flush(false);
  }

  std::unique_ptr<mevrik::desktop::sway::Ipc> ipc_;
  std::unique_ptr<mevrik::desktop::wlroots::Client> client_;
  std::vector<mevrik::desktop::Output> outputs_;
  Box layout_;
  std::string lost_;
  bool pressed_ = false;
};

}  // namespace

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const Session session = detectSession();
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
  return std::make_unique<WlrootsPlatform>(std::move(ipc), std::move(client), std::move(*outputs),
                                           layout);
}

}  // namespace click
