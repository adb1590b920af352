// The KWin backend of vantic-shot (KDE Plasma on Wayland): a KWin script for the window in front
// and the outputs, KWin's screenshot interface (org.kde.KWin.ScreenShot2) for the pixels.
//
// - Points are KWin's logical pixels, the space of vantic-ax's centres and of vantic-click. KWin
//   gives the outputs' own pixels, so an output scaled by 2 gives twice as many pixels per point;
//   the report's scale says so.
// - A window's area is its frame: what the user sees of it, KWin's title bar included, GTK's
//   client-side shadows left out.
#include "desktop/kde/kwin.h"
#include "desktop/session.h"
#include "shot/compositor.h"
#include "shot/platform-wlroots.h"

namespace shot {
namespace {

using mevrik::desktop::Box;

class KwinPlatform : public Platform {
 public:
  KwinPlatform(std::unique_ptr<mevrik::desktop::kde::KWin> kwin,
               mevrik::desktop::kde::Workspace workspace)
      : kwin_(std::move(kwin)), workspace_(std::move(workspace)) {}

  std::optional<Window> frontmostWindow() override { return focusedWindow(workspace_.windows); }

  Rect screen() override { return layoutBounds(workspace_.outputs); }

  std::optional<Image> capture(const Rect& area) override {
    auto pixels = kwin_->capture(Box{area.x, area.y, area.width, area.height}, error_);
    if (!pixels) return std::nullopt;
    return imageOf(std::move(*pixels), area);
  }

  std::string captureError() override { return error_; }

 private:
  std::unique_ptr<mevrik::desktop::kde::KWin> kwin_;
  mevrik::desktop::kde::Workspace workspace_;
  std::string error_;
};

}  // namespace

std::unique_ptr<Platform> createKwinPlatform(std::string& error) {
  using namespace mevrik::desktop;
  std::string why;
  auto kwin = kde::KWin::connect(why);
  std::optional<kde::Workspace> workspace;
  if (kwin) workspace = kwin->read();
  if (!workspace || workspace->outputs.empty()) {
    error = refusal(Session::kKde, "vantic-shot",
                    "the windows and outputs come from a KWin script: " +
                        (why.empty() ? std::string("KWin did not answer") : why),
                    "no screenshot was taken");
    return nullptr;
  }
  return std::make_unique<KwinPlatform>(std::move(kwin), std::move(*workspace));
}

}  // namespace shot
