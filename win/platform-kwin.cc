// vantic-win on KWin (KDE Plasma on Wayland): every answer comes from a KWin script
// (desktop/kde), which gives the windows with their frames, processes, stacking and the active
// one, and activates a window. KWin tells no client of changes, so the waits poll; each read is
// one script, a few tens of milliseconds.
#include <algorithm>
#include <thread>

#include "desktop/kde/kwin.h"
#include "desktop/session.h"
#include "win/launch-posix.h"
#include "win/platform-wlroots.h"

namespace win {
namespace {

namespace kde = mevrik::desktop::kde;

class KwinPlatform : public PosixPlatform {
 public:
  explicit KwinPlatform(std::unique_ptr<kde::KWin> kwin) : kwin_(std::move(kwin)) {}

  // Topmost first, minimized windows among them where KWin keeps them in its stacking.
  std::optional<Desktop> read(std::string& error) override {
    std::optional<kde::Workspace> workspace = kwin_->read(true);
    if (!workspace) {
      error = "KWin did not answer its script";
      return std::nullopt;
    }
    Desktop desktop;
    for (auto w = workspace->windows.rbegin(); w != workspace->windows.rend(); ++w) {
      Window out = recordOf(*w);
      out.minimized = !w->visible;  // KWin's script marks only minimized windows hidden
      desktop.windows.push_back(std::move(out));
    }
    return desktop;
  }

  bool animates() override { return false; }

  void activate(const Window& window) override { kwin_->activate(static_cast<int64_t>(window.id)); }

  void waitForChange(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(seconds, 0.0, 0.05)));
  }

 private:
  std::unique_ptr<kde::KWin> kwin_;
};

}  // namespace

std::unique_ptr<Platform> createKwinPlatform(std::string& error) {
  std::string why;
  auto kwin = kde::KWin::connect(why);
  if (!kwin) {
    error =
        mevrik::desktop::refusal(mevrik::desktop::Session::kKde, "vantic-win",
                                 "the windows come from a KWin script: " + why, "nothing was done");
    return nullptr;
  }
  return std::make_unique<KwinPlatform>(std::move(kwin));
}

}  // namespace win
