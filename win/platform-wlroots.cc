// vantic-win on wlroots compositors. sway's IPC gives everything the X11 backend reads (places,
// processes, workspaces, focus) and carries events, so the waits end when sway reports the
// change. Other wlroots compositors only offer the list of toplevels
// (wlr-foreign-toplevel-management): titles, app ids and states, and activation, but no places
// and no processes, so "at" is refused there.
#include "win/platform-wlroots.h"

#include <cmath>
#include <map>
#include <thread>

#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/toplevels.h"
#include "win/launch-posix.h"

namespace win {
namespace {

namespace sway = mevrik::desktop::sway;
using mevrik::desktop::wlroots::Toplevel;
using mevrik::desktop::wlroots::Toplevels;

class SwayPlatform : public PosixPlatform {
 public:
  explicit SwayPlatform(std::unique_ptr<sway::Ipc> ipc) : ipc_(std::move(ipc)) {}

  std::optional<Desktop> read(std::string& error) override {
    std::optional<sway::Tree> tree = ipc_->tree();
    if (!tree) {
      error = "sway's IPC stopped answering";
      return std::nullopt;
    }
    Desktop desktop;
    desktop.currentDesktop = tree->currentWorkspace;
    for (const mevrik::desktop::Window& w : tree->windows) {
      desktop.windows.push_back(recordOf(w));
    }
    return desktop;
  }

  // sway draws a window in its place at once (focusing it also shows its workspace and takes it
  // out of the scratchpad).
  bool animates() override { return false; }

  void activate(const Window& window) override {
    watch();
    ipc_->focus(static_cast<int64_t>(window.id));
  }

  void waitForChange(double seconds) override {
    if (events_) {
      events_->nextEvent(seconds);
    } else {
      std::this_thread::sleep_for(std::chrono::duration<double>(std::max(seconds, 0.0)));
    }
  }

 protected:
  // From here on sway's window events (new, focus, close, move...) wake the waits; subscribed
  // before the request, so that no answer can come unseen.
  void watch() override {
    if (events_) return;
    std::string error;
    events_ = sway::Ipc::connect(error);
    if (events_ && !events_->subscribe(R"(["window","workspace"])")) events_.reset();
  }

 private:
  std::unique_ptr<sway::Ipc> ipc_;
  std::unique_ptr<sway::Ipc> events_;
};

class ToplevelPlatform : public PosixPlatform {
 public:
  explicit ToplevelPlatform(std::unique_ptr<Toplevels> toplevels)
      : toplevels_(std::move(toplevels)) {}

  std::string placesUnknown() override {
    return mevrik::desktop::refusal(
        mevrik::desktop::Session::kWlroots, "vantic-win at",
        "window places come from sway's IPC; this compositor only lists its windows",
        "nothing was done");
  }

  // The active window first, then the others in the compositor's order: the protocol tells no
  // stacking.
  std::optional<Desktop> read(std::string&) override {
    Desktop desktop;
    keys_.clear();
    const std::vector<Window> windows = listed();
    for (const Window& w : windows) {
      if (w.focused) desktop.windows.push_back(w);
    }
    for (const Window& w : windows) {
      if (!w.focused) desktop.windows.push_back(w);
    }
    return desktop;
  }

  void activate(const Window& window) override {
    const auto key = keys_.find(window.id);
    if (key != keys_.end()) toplevels_->activate(key->second);
  }

  void waitForChange(double seconds) override { toplevels_->waitForChange(seconds); }

 private:
  // The windows in the compositor's order. The protocol gives no lasting handle, so a window's id
  // is made from its app id and title (and its rank among windows alike): the same window keeps
  // its id from one run to the next while its title stays, and an id never names another
  // window's title. Windows alike are told apart only by that rank, which the compositor's
  // order may change from one connection to the next.
  std::vector<Window> listed() {
    std::vector<Window> out;
    std::map<std::string, int> seen;
    for (const Toplevel& t : toplevels_->list()) {
      Window w;
      const std::string name = t.appId + '\0' + t.title;
      w.id = stableId(name, seen[name]++);
      w.app = t.appId;
      w.title = t.title;
      w.placed = false;
      w.focused = t.activated;
      w.minimized = t.minimized;
      w.shown = !t.minimized;
      keys_[w.id] = t.key;
      out.push_back(std::move(w));
    }
    return out;
  }

  // FNV-1a, cut to 53 bits so that every JSON reader takes it exactly.
  static uint64_t stableId(const std::string& name, int rank) {
    uint64_t hash = 14695981039346656037ull;
    const std::string text = name + '\0' + std::to_string(rank);
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
    hash &= (uint64_t{1} << 53) - 1;
    return hash == 0 ? 1 : hash;
  }

  std::unique_ptr<Toplevels> toplevels_;
  std::map<uint64_t, uint32_t> keys_;  // window id -> the protocol's handle
};

}  // namespace

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error) {
  std::string swayError;
  if (auto ipc = sway::Ipc::connect(swayError))
    return std::make_unique<SwayPlatform>(std::move(ipc));
  std::string listError;
  if (auto toplevels = Toplevels::connect(listError)) {
    return std::make_unique<ToplevelPlatform>(std::move(toplevels));
  }
  error = mevrik::desktop::refusal(mevrik::desktop::Session::kWlroots, "vantic-win",
                                   swayError + ", and " + listError, "nothing was done");
  return nullptr;
}

}  // namespace win
