// The wlroots backend of vantic-shot (sway and other wlroots compositors): sway's IPC for the
// window in front and the outputs, wlr-screencopy for the pixels.
//
// - Points are the compositor's logical pixels, the space of vantic-ax's centres and of
//   vantic-click. An output scaled by 2 gives twice as many pixels per point; the report's scale
//   says so.
// - The screen is the bounding box of all outputs. A capture is one output's picture, so an area
//   must lie on one output: one that spans two is refused rather than patched together at two
//   scales.
#include "shot/platform-wlroots.h"

#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/client.h"
#include "shot/compositor.h"

namespace shot {
namespace {

using mevrik::desktop::Box;
using mevrik::desktop::Output;

class WlrootsPlatform : public Platform {
 public:
  WlrootsPlatform(std::unique_ptr<mevrik::desktop::sway::Ipc> ipc,
                  std::unique_ptr<mevrik::desktop::wlroots::Client> client,
                  std::vector<Output> outputs)
      : ipc_(std::move(ipc)), client_(std::move(client)), outputs_(std::move(outputs)) {}

  std::optional<Window> frontmostWindow() override {
    return focusedWindow(ipc_->windows().value_or(std::vector<mevrik::desktop::Window>{}));
  }

  Rect screen() override { return layoutBounds(outputs_); }

  std::optional<Image> capture(const Rect& area) override {
    for (const Output& o : outputs_) {
      const Box& b = o.area;
      if (area.x < b.x || area.y < b.y || area.x + area.width > b.x + b.width ||
          area.y + area.height > b.y + b.height) {
        continue;
      }
      auto pixels = client_->capture(outputs_.size() == 1 ? std::string() : o.name,
                                     Box{area.x - b.x, area.y - b.y, area.width, area.height});
      if (!pixels) return std::nullopt;
      return imageOf(std::move(*pixels), area);
    }
    return std::nullopt;
  }

 private:
  std::unique_ptr<mevrik::desktop::sway::Ipc> ipc_;
  std::unique_ptr<mevrik::desktop::wlroots::Client> client_;
  std::vector<Output> outputs_;
};

}  // namespace

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const std::string tail = "no screenshot was taken";
  std::string why;
  auto ipc = sway::Ipc::connect(why);
  std::optional<std::vector<Output>> outputs;
  if (ipc) outputs = ipc->outputs();
  if (ipc && !outputs) {
    // sway answered the connection, then went away: that is not a session the tool cannot serve.
    error = "sway's IPC stopped answering (the compositor went away?); " + tail;
    return nullptr;
  }
  if (!outputs || outputs->empty()) {
    error = refusal(Session::kWlroots, "vantic-shot",
                    "the windows and outputs come from sway's IPC: " +
                        (why.empty() ? std::string("no outputs") : why),
                    tail);
    return nullptr;
  }
  auto client = wlroots::Client::connect(wlroots::Client::kScreencopy, why);
  if (!client) {
    error = why + "; " + tail;
    return nullptr;
  }
  return std::make_unique<WlrootsPlatform>(std::move(ipc), std::move(client), std::move(*outputs));
}

}  // namespace shot
