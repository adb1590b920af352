// vantic-win on KWin (KDE Plasma on Wayland): every answer comes from a KWin script
// (desktop/kde), which gives the windows with their frames, processes, stacking and the active
// one, and activates a window. KWin tells no client of changes, so the waits poll; each read is
// one script, a few tens of milliseconds.
#include <time.h>

#include <algorithm>
#include <thread>

#include "desktop/kde/kwin.h"
#include "desktop/session.h"
#include "win/launch-posix.h"
#include "win/platform-wlroots.h"

namespace win {
namespace {

namespace kde = mevrik::desktop::kde;

class KwinPlatform : public Platform {
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
      Window out;
      out.id = static_cast<uint64_t>(w->id);
      out.app = w->appId;
      out.pid = w->pid;
      out.title = w->title;
      out.x = w->content.x;
      out.y = w->content.y;
      out.w = w->content.width;
      out.h = w->content.height;
      out.focused = w->focused;
      out.minimized = !w->visible;
      desktop.windows.push_back(std::move(out));
    }
    return desktop;
  }

  uint64_t activeWindow() override {
    std::string error;
    if (auto desktop = read(error)) {
      for (const Window& w : desktop->windows) {
        if (w.focused) return w.id;
      }
    }
    return 0;
  }

  bool exists(uint64_t id) override {
    std::string error;
    if (auto desktop = read(error)) {
      for (const Window& w : desktop->windows) {
        if (w.id == id) return true;
      }
    }
    return false;
  }

  // Activating a window shows its virtual desktop.
  void showDesktop(int64_t) override {}
  bool animates() override { return false; }

  void activate(const Window& window) override { kwin_->activate(static_cast<int64_t>(window.id)); }

  Launched launchApplication(const std::string& id) override {
    return posix::launchDesktopEntry(id);
  }

  Launched launchCommand(const std::vector<std::string>& argv) override {
    return posix::spawnDetached(argv, "");
  }

  bool running(int32_t pid) override { return posix::running(pid); }

  void waitForChange(double seconds) override {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(seconds, 0.0, 0.05)));
  }

  double now() override {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
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
