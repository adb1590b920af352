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
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "click/platform-wayland.h"
#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/client.h"

namespace click {
namespace {

using mevrik::desktop::Box;

class WlrootsPlatform : public DevicePlatform<mevrik::desktop::wlroots::Client> {
 public:
  WlrootsPlatform(std::unique_ptr<mevrik::desktop::sway::Ipc> ipc,
                  std::unique_ptr<mevrik::desktop::wlroots::Client> client,
                  std::vector<mevrik::desktop::Output> outputs, Box layout)
      : DevicePlatform(std::move(client)),
        ipc_(std::move(ipc)),
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
      if (w.visible && holds(w.frame, at)) {
        lookup.window = targetOf(w);
        break;
      }
    }
    return lookup;
  }

 protected:
  bool moveTo(Point at) override {
    if (onOutput(outputs_, at) && device_->pointerTo(at.x, at.y, layout_)) return true;
    refused_ = pointText(at) + " lies on no output (the outputs are " + outputList() + ")";
    return false;
  }

 private:
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

  std::unique_ptr<mevrik::desktop::sway::Ipc> ipc_;
  std::vector<mevrik::desktop::Output> outputs_;
  Box layout_;
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
