// The wlroots backend of vantic-type (sway and other wlroots compositors): a virtual keyboard
// (virtual-keyboard-unstable-v1) with a keymap of its own, and sway's IPC for the window in front.
//
// - The keymap is this keyboard's alone: the seat's other keyboards keep theirs, so the user's
//   layout is never touched. It holds printable ASCII, the editing and function keys and the
//   modifiers, one keysym per key code with no levels, so no key needs Shift; other characters
//   are bound to the spare codes above them, and the whole keymap is sent again.
// - The compositor does not work out modifiers from a virtual keyboard's keys: every modifier
//   key's press and release also sends the modifier mask.
// - Other keyboards' held modifiers and Caps Lock belong to their own keyboards' state, which
//   does not apply to this keyboard's keys, so none are reported.
// - The compositor forwards the keys and the keymap to the application in the order they were
//   sent, so a round trip with it is enough before a new keymap.
// - A new keyboard makes sway move the keyboard focus out of the window and back; the run waits
//   100 ms for the application to settle before the first key.
// - An X11 window under XWayland is typed into through XWayland's own X server instead (XTEST,
//   the X11 backend): XWayland applies a new keyboard's keymap to its clients late, so keys of a
//   keyboard that just joined the seat reached them through the previous keymap, as other
//   characters or none, in about half of the runs back to back. XTEST events go from XWayland's
//   server to its clients with the server's own map, so no virtual keyboard is made then (it
//   would change that map under the run).
#include "type/platform-wlroots.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/wlroots/client.h"

namespace type {
namespace {

constexpr uint32_t kFirstCode = 9;  // XKB code 8 is evdev's KEY_RESERVED
constexpr uint32_t kLastCode = 255;

// The keysyms of the base keymap, besides printable ASCII.
constexpr Keysym kBaseKeys[] = {
    0xff08,  0xff09,  0xff0d,    0xff1b,    0xffff,  // BackSpace Tab Return Escape Delete
    0xff50,  0xff51,  0xff52,    0xff53,    0xff54, 0xff55, 0xff56,  // Home, arrows, Page_Up/Down
    0xff57,  0xff63,  0xff67,                                        // End Insert Menu
    0xffbe,  0xffbf,  0xffc0,    0xffc1,    0xffc2, 0xffc3,          // F1-F6
    0xffc4,  0xffc5,  0xffc6,    0xffc7,    0xffc8, 0xffc9,          // F7-F12
    kShiftL, kShiftR, kControlL, kControlR, kAltL,  kAltR,  kSuperL, kSuperR};

// The real modifier bit a modifier keysym sets (Shift, Control, Mod1, Mod4), or 0.
uint32_t modifierBit(Keysym symbol) {
  switch (symbol) {
    case kShiftL:
    case kShiftR:
      return 1;
    case kControlL:
    case kControlR:
      return 4;
    case kAltL:
    case kAltR:
      return 8;
    case kSuperL:
    case kSuperR:
      return 64;
    default:
      return 0;
  }
}

class WlrootsPlatform : public Platform {
 public:
  WlrootsPlatform(std::unique_ptr<mevrik::desktop::sway::Ipc> ipc,
                  std::unique_ptr<mevrik::desktop::wlroots::Client> client)
      : ipc_(std::move(ipc)), client_(std::move(client)) {
    for (Keysym s = 0x20; s <= 0x7e; ++s) base_.push_back(s);
    base_.insert(base_.end(), std::begin(kBaseKeys), std::end(kBaseKeys));
    for (size_t i = 0; i < base_.size(); ++i) {
      codes_[base_[i]] = kFirstCode + static_cast<uint32_t>(i);
    }
  }

  bool sendKeymap(const std::vector<Keysym>& spare) {
    std::string text =
        "xkb_keymap {\n"
        "xkb_keycodes \"mevrik\" {\n minimum = 8;\n maximum = 255;\n";
    const size_t count = base_.size() + spare.size();
    for (size_t i = 0; i < count; ++i) {
      const unsigned code = kFirstCode + static_cast<unsigned>(i);
      text += " <K" + std::to_string(code) + "> = " + std::to_string(code) + ";\n";
    }
    text +=
        "};\n"
        "xkb_types \"mevrik\" { include \"complete\" };\n"
        "xkb_compatibility \"mevrik\" { include \"complete\" };\n"
        "xkb_symbols \"mevrik\" {\n";
    std::string modifiers;
    for (size_t i = 0; i < count; ++i) {
      const Keysym symbol = i < base_.size() ? base_[i] : spare[i - base_.size()];
      const unsigned code = kFirstCode + static_cast<unsigned>(i);
      char line[64];
      std::snprintf(line, sizeof line, " key <K%u> { [ 0x%x ] };\n", code, symbol);
      text += line;
      if (const uint32_t bit = modifierBit(symbol)) {
        const char* name = bit == 1 ? "Shift" : bit == 4 ? "Control" : bit == 8 ? "Mod1" : "Mod4";
        modifiers +=
            std::string(" modifier_map ") + name + " { <K" + std::to_string(code) + "> };\n";
      }
    }
    text += modifiers + "};\n};\n";
    // The compositor takes the keymap before any key of it.
    return client_->setKeymap(text) && client_->flush(true);
  }

  int32_t frontmostPid() override {
    for (const mevrik::desktop::Window& w :
         ipc_->windows().value_or(std::vector<mevrik::desktop::Window>{})) {
      if (w.focused) return w.pid;
    }
    return 0;
  }

  std::optional<Key> findKey(Keysym symbol) override {
    const auto it = codes_.find(symbol);
    if (it == codes_.end()) return std::nullopt;
    return Key{it->second, false, symbol};
  }

  size_t spareKeyCount() override { return kLastCode + 1 - kFirstCode - base_.size(); }

  std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) override {
    if (symbols.size() > spareKeyCount() || !sendKeymap(symbols)) return {};
    std::vector<Key> keys;
    for (size_t i = 0; i < symbols.size(); ++i) {
      keys.push_back(Key{kFirstCode + static_cast<uint32_t>(base_.size() + i), false, symbols[i]});
    }
    return keys;
  }

  // The keymap is this keyboard's own and goes with it when the run ends.
  void restoreKeyboardMap() override {}

  std::vector<Key> heldModifierKeys() override { return {}; }
  bool capsLockOn() override { return false; }

  void postKey(const Key& key, bool down) override {
    client_->key(key.code, down);
    if (const uint32_t bit = modifierBit(key.symbol)) {
      mask_ = down ? (mask_ | bit) : (mask_ & ~bit);
      client_->modifiers(mask_);
    }
  }

  void flush() override { client_->flush(false); }

  bool waitForReader(uint32_t) override { return client_->flush(true); }

  std::string lostReason() override {
    const std::string lost = client_->lostReason();
    return lost.empty() ? lost : lost + "; typing may be incomplete";
  }

 private:
  std::unique_ptr<mevrik::desktop::sway::Ipc> ipc_;
  std::unique_ptr<mevrik::desktop::wlroots::Client> client_;
  std::vector<Keysym> base_;
  std::unordered_map<Keysym, uint32_t> codes_;
  uint32_t mask_ = 0;
};

}  // namespace

std::unique_ptr<Platform> createWlrootsPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const std::string tail = "nothing was typed";
  std::string why;
  auto ipc = sway::Ipc::connect(why);
  if (!ipc) {
    error = refusal(Session::kWlroots, "vantic-type",
                    "the window in front comes from sway's IPC: " + why, tail);
    return nullptr;
  }
  const auto windows = ipc->windows().value_or(std::vector<Window>{});
  if (std::any_of(windows.begin(), windows.end(),
                  [](const Window& w) { return w.focused && w.xwayland; }))
    return createXwaylandPlatform(error);
  auto client = wlroots::Client::connect(wlroots::Client::kKeyboard, why);
  if (!client) {
    error = why + "; " + tail;
    return nullptr;
  }
  auto platform = std::make_unique<WlrootsPlatform>(std::move(ipc), std::move(client));
  if (!platform->sendKeymap({})) {
    error = "cannot hand the compositor a keymap; " + tail;
    return nullptr;
  }
  // sway gives the focused window its keyboard focus again whenever a keyboard joins the seat
  // (leave, then enter); GTK lost the first keys that followed at once now and then.
  timespec settle{0, 100 * 1000 * 1000};
  while (nanosleep(&settle, &settle) != 0) {
  }
  return platform;
}

}  // namespace type
