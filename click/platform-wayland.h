// vantic-click-wayland's backends, one per compositor family; platform-wayland.cc picks the one
// for the session.
#pragma once

#include <linux/input-event-codes.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "click/platform-injecting.h"
#include "desktop/windows.h"

namespace click {

// sway and other wlroots compositors (platform-wlroots.cc).
std::unique_ptr<Platform> createWlrootsPlatform(std::string& error);
// KWin (platform-kwin.cc).
std::unique_ptr<Platform> createKwinPlatform(std::string& error);
// GNOME Shell, through Mevrik's shell extension (platform-gnome.cc).
std::unique_ptr<Platform> createGnomePlatform(std::string& error);

// What the compositors' backends share. Absolute motion is mapped onto the outputs, and a point
// on none of them would be clamped to the nearest edge: the first such point is refused instead,
// and after it nothing is sent but the release of a button already pressed, so that the run
// ends with no button held and reports that no pointer action was performed.
class CompositorPlatform : public InjectingPlatform {
 public:
  void warpCursor(Point to) override {
    if (refused_.empty()) moveTo(to);
  }

  std::string lostReason() override {
    if (!refused_.empty()) return refused_ + "; no pointer action was performed";
    const std::string lost = connectionLost();
    return lost.empty() ? lost : lost + "; the pointer action may be incomplete";
  }

  static bool holds(const mevrik::desktop::Box& b, Point at) {
    return at.x >= static_cast<double>(b.x) && at.x < static_cast<double>(b.x + b.width) &&
           at.y >= static_cast<double>(b.y) && at.y < static_cast<double>(b.y + b.height);
  }
  static bool onOutput(const std::vector<mevrik::desktop::Output>& outputs, Point at) {
    for (const mevrik::desktop::Output& o : outputs) {
      if (holds(o.area, at)) return true;
    }
    return false;
  }
  static TargetWindow targetOf(const mevrik::desktop::Window& w) {
    return TargetWindow{static_cast<uint64_t>(w.id), w.pid, w.appId, w.title};
  }
  // "the point X,Y"
  static std::string pointText(Point at) {
    char text[64];
    std::snprintf(text, sizeof text, "the point %.0f,%.0f", at.x, at.y);
    return text;
  }

 protected:
  void post(const InjectedEvent& event) final {
    const bool release = event.releases();
    if (refused_.empty() && moveTo(event.at)) {
      if (event.scroll) {
        wheel(event.vertical, event.horizontal);
      } else if (event.presses() || release) {
        press(event.button, !release);
      }
    } else if (release && pressed_) {
      press(event.button, false);
    }
    sent();
  }

  // Moves the pointer to the point: false when it did not, with the reason in refused_ when the
  // point lies on no output.
  virtual bool moveTo(Point at) = 0;
  virtual void button(MouseButton button, bool down) = 0;
  // Wheel clicks, up and left positive.
  virtual void wheel(int32_t vertical, int32_t horizontal) = 0;
  // After each event: sends what is queued.
  virtual void sent() {}
  // Why the compositor stopped taking events, or "".
  virtual std::string connectionLost() = 0;

  std::string refused_;  // why a point was refused

 private:
  void press(MouseButton which, bool down) {
    button(which, down);
    pressed_ = down;
  }

  bool pressed_ = false;
};

// A backend whose device (wlroots' virtual pointer, KWin's fake input) takes evdev buttons and
// wheel steps down and right, queues its requests and sends them on flush().
template <class Device>
class DevicePlatform : public CompositorPlatform {
 protected:
  explicit DevicePlatform(std::unique_ptr<Device> device) : device_(std::move(device)) {}

  void button(MouseButton button, bool down) override {
    device_->pointerButton(button == kButtonRight    ? BTN_RIGHT
                           : button == kButtonCenter ? BTN_MIDDLE
                                                     : BTN_LEFT,
                           down);
  }
  void wheel(int32_t vertical, int32_t horizontal) override {
    device_->pointerWheel(-vertical, -horizontal);
  }
  void sent() override { device_->flush(false); }
  void roundTrip() override { device_->flush(true); }
  std::string connectionLost() override {
    device_->flush(true);
    return device_->lostReason();
  }

  std::unique_ptr<Device> device_;
};

}  // namespace click
