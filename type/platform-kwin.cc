// The KWin backend of vantic-type (KDE Plasma on Wayland): KWin's fake input for the keys, a
// KWin script for the window in front.
//
// - Fake keys are key codes that KWin reads through the seat's keymap, the user's layout: this
//   backend types what that layout gives without modifiers or with Shift (in the first group),
//   plus the editing, function and modifier keys it has. KWin lets no client change the seat's
//   keymap, so a character the layout lacks cannot be typed: the run refuses it before any key,
//   rather than typing another character in its place.
// - The keys go through the seat's own state: a modifier or Caps Lock held on a real keyboard
//   applies to them, and a Wayland client cannot read that state to put it aside.
#include <xkbcommon/xkbcommon.h>

#include <unordered_map>

#include "desktop/kde/fake_input.h"
#include "desktop/kde/kwin.h"
#include "desktop/session.h"
#include "type/platform-wlroots.h"

namespace type {
namespace {

constexpr uint32_t kXkbOffset = 8;  // XKB key codes are evdev's plus 8

class KwinPlatform : public Platform {
 public:
  KwinPlatform(std::unique_ptr<mevrik::desktop::kde::FakeInput> input, int32_t frontmost,
               std::unordered_map<Keysym, Key> keys)
      : input_(std::move(input)), frontmost_(frontmost), keys_(std::move(keys)) {}

  int32_t frontmostPid() override { return frontmost_; }

  std::optional<Key> findKey(Keysym symbol) override {
    const auto it = keys_.find(symbol);
    if (it == keys_.end()) return std::nullopt;
    return it->second;
  }

  size_t spareKeyCount() override { return 0; }
  std::vector<Key> bindSpareKeys(const std::vector<Keysym>&) override { return {}; }
  void restoreKeyboardMap() override {}
  std::vector<Key> heldModifierKeys() override { return {}; }
  bool capsLockOn() override { return false; }

  void postKey(const Key& key, bool down) override { input_->key(key.code, down); }
  void flush() override { input_->flush(false); }
  bool waitForReader(uint32_t) override { return input_->flush(true); }
  std::string lostReason() override { return input_->lostReason(); }

 private:
  std::unique_ptr<mevrik::desktop::kde::FakeInput> input_;
  int32_t frontmost_;
  std::unordered_map<Keysym, Key> keys_;
};

// Every keysym the keymap's first group gives without modifiers or with Shift alone, with its
// evdev code; a keysym found both ways keeps the key without Shift.
std::unordered_map<Keysym, Key> keysOf(const std::string& text) {
  std::unordered_map<Keysym, Key> keys;
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!context) return keys;
  xkb_keymap* keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap) {
    const xkb_mod_mask_t shift = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
         code <= xkb_keymap_max_keycode(keymap); ++code) {
      if (code < kXkbOffset) continue;
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, 0);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        xkb_mod_mask_t masks[8];
        const size_t count = xkb_keymap_key_get_mods_for_level(keymap, code, 0, level, masks, 8);
        bool plain = false, shifted = false;
        for (size_t i = 0; i < count; ++i) {
          plain = plain || masks[i] == 0;
          shifted = shifted || masks[i] == shift;
        }
        if (!plain && !shifted) continue;
        const xkb_keysym_t* symbols = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &symbols) != 1) continue;
        const Key key{code - kXkbOffset, !plain, symbols[0]};
        auto [it, added] = keys.emplace(symbols[0], key);
        if (!added && it->second.shift && plain) it->second = key;
      }
    }
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(context);
  return keys;
}

}  // namespace

std::unique_ptr<Platform> createKwinPlatform(std::string& error) {
  using namespace mevrik::desktop;
  const std::string tail = "; nothing was typed";
  std::string why;
  auto kwin = kde::KWin::connect(why);
  std::optional<kde::Workspace> workspace;
  if (kwin) workspace = kwin->read();
  if (!workspace) {
    error = refusal(Session::kKde, "vantic-type",
                    "the window in front comes from a KWin script: " +
                        (why.empty() ? std::string("KWin did not answer") : why),
                    "nothing was typed");
    return nullptr;
  }
  int32_t frontmost = 0;
  for (const Window& w : workspace->windows) {
    if (w.focused) frontmost = w.pid;
  }
  auto input = kde::FakeInput::connect("vantic-type", why);
  if (!input) {
    error = why + tail;
    return nullptr;
  }
  const std::optional<std::string> keymap = input->seatKeymap();
  std::unordered_map<Keysym, Key> keys =
      keymap ? keysOf(*keymap) : std::unordered_map<Keysym, Key>{};
  if (keys.empty()) {
    error = "KWin gave no keymap for the seat's keyboard" + tail;
    return nullptr;
  }
  if (!input->hasKeys()) {
    error = "KWin's fake input is too old for keys (version 4 or later is needed)" + tail;
    return nullptr;
  }
  return std::make_unique<KwinPlatform>(std::move(input), frontmost, std::move(keys));
}

}  // namespace type
