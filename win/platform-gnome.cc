// vantic-win in GNOME Shell on Wayland: Mevrik's shell extension gives the windows (bottom of the
// stack first, so the list is turned round), the workspace on show and the focus, activates a
// window as the shell's own switchers do, and signals every change, which ends the waits.
// Launching is the POSIX code every Linux session shares.
#include "win/platform-gnome.h"

#include <algorithm>

#include "desktop/gnome/shell.h"
#include "win/launch-posix.h"

namespace win {
namespace {

namespace gnome = mevrik::desktop::gnome;

class GnomePlatform : public PosixPlatform {
 public:
  explicit GnomePlatform(std::unique_ptr<gnome::Shell> shell) : shell_(std::move(shell)) {}

  std::optional<Desktop> read(std::string& error) override {
    std::optional<std::vector<mevrik::desktop::Window>> windows = shell_->windows();
    if (!windows) {
      error = "Mevrik's GNOME Shell extension stopped answering";
      return std::nullopt;
    }
    Desktop desktop;
    desktop.currentDesktop = shell_->activeWorkspace();
    for (auto w = windows->rbegin(); w != windows->rend(); ++w) {
      // The extension lists a window once the shell has shown it; one without a size yet is of
      // no use to a click.
      if (w->frame.width <= 0 || w->frame.height <= 0) continue;
      desktop.windows.push_back(recordOf(*w));
    }
    return desktop;
  }

  uint64_t activeWindow() override {
    const std::optional<mevrik::desktop::Window> focused = shell_->focused();
    return focused ? static_cast<uint64_t>(focused->id) : 0;
  }

  bool exists(uint64_t id) override {
    const auto windows = shell_->windows();
    return windows && std::any_of(windows->begin(), windows->end(), [id](const auto& w) {
             return static_cast<uint64_t>(w.id) == id;
           });
  }

  void activate(const Window& window) override {
    watch();
    shell_->activate(static_cast<int64_t>(window.id));
  }

  void waitForChange(double seconds) override { shell_->waitForChange(seconds); }

 protected:
  // From here on the shell's change signals wake the waits; listened to before the request, so
  // that no answer can come unseen.
  void watch() override { shell_->waitForChange(0); }

 private:
  std::unique_ptr<gnome::Shell> shell_;
};

}  // namespace

std::unique_ptr<Platform> createGnomePlatform(std::string& error) {
  std::string why;
  auto shell = gnome::Shell::connect(why);
  if (!shell) {
    error = gnome::refusal("vantic-win", why, "nothing was done");
    return nullptr;
  }
  return std::make_unique<GnomePlatform>(std::move(shell));
}

}  // namespace win
