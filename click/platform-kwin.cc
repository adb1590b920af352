// The KWin backend of vantic-click (KDE Plasma on Wayland): KWin's fake input for the events,
// a KWin script for the windows, their stacking and the outputs (desktop/kde).
//
// - KWin maps absolute motion onto its outputs and would clamp a point outside all of them to
//   the nearest edge: such a point is refused instead, before any event.
// - The script tells where the pointer is: with the workspace when the run starts, and once more
//   at the end, after KWin has handled every event. The cursor is put back by a motion to where
//   it was (Wayland has no warp), which applications see as the pointer leaving.
// - Fake input has no delivery to one process: every event goes to the seat.
#include "click/platform-wayland.h"
#include "desktop/kde/fake_input.h"
#include "desktop/kde/kwin.h"
#include "desktop/session.h"

namespace click {
namespace {

using mevrik::desktop::Window;

class KwinPlatform : public DevicePlatform<mevrik::desktop::kde::FakeInput> {
 public:
  KwinPlatform(std::unique_ptr<mevrik::desktop::kde::FakeInput> input,
               std::unique_ptr<mevrik::desktop::kde::KWin> kwin,
               mevrik::desktop::kde::Workspace workspace)
      : DevicePlatform(std::move(input)),
        kwin_(std::move(kwin)),
        workspace_(std::move(workspace)) {}

  // The workspace was read once when the run started: a KWin script per question would cost
  // more than the whole action.
  int32_t frontmostPid() override {
    for (const Window& w : workspace_.windows) {
      if (w.focused) return w.pid;
    }
    return 0;
  }

  std::optional<Point> cursorPosition() override {
    auto at = workspace_.cursor;
    if (readCursor_) {
      roundTrip();
      const auto now = kwin_->read();
      at = now ? now->cursor : std::nullopt;
    }
    readCursor_ = true;
    if (!at) return std::nullopt;
    return Point{static_cast<double>(at->first), static_cast<double>(at->second)};
  }

  // The windows come bottom of the stack first: the last one that holds the point is on top.
  WindowLookup windowAt(Point at) override {
    WindowLookup lookup;
    for (auto w = workspace_.windows.rbegin(); w != workspace_.windows.rend(); ++w) {
      if (!holds(w->content, at)) continue;
      lookup.window = targetOf(*w);
      break;
    }
    return lookup;
  }

 protected:
  bool moveTo(Point at) override {
    if (!onOutput(workspace_.outputs, at)) {
      refused_ = pointText(at) + " lies on no output";
      return false;
    }
    device_->pointerTo(at.x, at.y);
    return true;
  }

 private:
  std::unique_ptr<mevrik::desktop::kde::KWin> kwin_;
  mevrik::desktop::kde::Workspace workspace_;
  bool readCursor_ = false;  // the first read is the one the workspace brought
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
  return std::make_unique<KwinPlatform>(std::move(input), std::move(kwin), std::move(*workspace));
}

}  // namespace click
