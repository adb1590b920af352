// The KWin backend of vantic-type (KDE Plasma on Wayland): KWin's fake input for the keys, a
// KWin script for the window in front.
//
// - Fake keys are key codes that KWin and every client read through the seat's keymap, the
//   user's layout: what the layout in use gives without modifiers or with Shift is typed with
//   its own keys, as are the editing, function and modifier keys.
// - Every other character is bound to spare key codes (the keymap leaves them empty; two
//   keysyms each, the second with Shift) in a layout of the run's own, which KWin takes from its
//   layout settings (desktop/kde/layout.h). The settings change only when a text needs it, the
//   run waits until the seat's keymap carries the bindings before it sends the keys that use
//   them, and puts the user's settings back at the end. KWin sends a new keymap to every
//   client's keyboard at once, ahead of any key that follows, so the focused client reads the
//   keys with it. Runs on one display take turns through the journal, which also lets a later
//   run (or --restore) put back what a killed run left.
// - The keys go through the seat's own state: a modifier or Caps Lock held on a real keyboard
//   applies to them, and a Wayland client cannot read that state to put it aside.
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <unordered_map>

#include "desktop/kde/fake_input.h"
#include "desktop/kde/kwin.h"
#include "desktop/kde/layout.h"
#include "desktop/session.h"
#include "type/platform-wlroots.h"

namespace type {
namespace {

namespace kde = mevrik::desktop::kde;

constexpr uint32_t kXkbOffset = 8;        // XKB key codes are evdev's plus 8
constexpr uint32_t kLastSpareCode = 255;  // evdev codes past it have no names in the usual keymaps
constexpr int kKeymapTimeoutMs = 3000;    // KWin compiles a keymap in tens of milliseconds

struct Keymap {
  xkb_context* context = nullptr;
  xkb_keymap* keymap = nullptr;
  explicit Keymap(const std::string& text) {
    context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (context) {
      keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
  }
  ~Keymap() {
    if (keymap) xkb_keymap_unref(keymap);
    if (context) xkb_context_unref(context);
  }
  Keymap(const Keymap&) = delete;
  Keymap& operator=(const Keymap&) = delete;

  // The keysyms of an XKB key code's first group that has any, by level, at most two.
  std::vector<Keysym> entry(xkb_keycode_t code) const {
    std::vector<Keysym> row;
    if (!keymap) return row;
    for (xkb_layout_index_t group = 0; group < xkb_keymap_num_layouts_for_key(keymap, code);
         ++group) {
      for (xkb_level_index_t level = 0;
           level <
           std::min<xkb_level_index_t>(2, xkb_keymap_num_levels_for_key(keymap, code, group));
           ++level) {
        const xkb_keysym_t* symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, code, group, level, &symbols);
        row.push_back(count == 1 ? symbols[0] : kNoSymbol);
      }
      while (!row.empty() && row.back() == kNoSymbol) row.pop_back();
      if (!row.empty()) return row;
    }
    return row;
  }
};

class KwinPlatform : public Platform {
 public:
  KwinPlatform(std::unique_ptr<kde::FakeInput> input, int32_t frontmost, const std::string& keymap,
               size_t group, std::unordered_map<Keysym, Key> keys,
               std::unique_ptr<kde::RunLayout> layout)
      : input_(std::move(input)),
        frontmost_(frontmost),
        group_(group),
        keymap_(keymap),
        keys_(std::move(keys)),
        layout_(std::move(layout)) {}

  int32_t frontmostPid() override { return frontmost_; }

  std::optional<Key> findKey(Keysym symbol) override {
    const auto it = keys_.find(symbol);
    if (it == keys_.end()) return std::nullopt;
    return it->second;
  }

  // Two keysyms a code: one alone, one with Shift.
  size_t spareKeyCount() override { return layout_ ? 2 * spareCodes().size() : 0; }

  // The layout is written and switched in by the next flush(), once the journal lists it.
  std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) override {
    const std::vector<xkb_keycode_t> spare = spareCodes();
    std::vector<Key> keys;
    extra_.clear();
    for (size_t i = 0; i < symbols.size() && i / 2 < spare.size(); i += 2) {
      const xkb_keycode_t code = spare[i / 2];
      // A lone last keysym fills both levels.
      const bool pair = i + 1 < symbols.size();
      const Keysym shifted = pair ? symbols[i + 1] : symbols[i];
      extra_.push_back(
          {xkb_keymap_key_get_name(keymap_.keymap, code), nameOf(symbols[i]), nameOf(shifted)});
      keys.push_back(Key{code - kXkbOffset, false, symbols[i]});
      if (pair) keys.push_back(Key{code - kXkbOffset, true, shifted});
    }
    bound_ = keys;
    switchPending_ = true;
    return keys;
  }

  void restoreKeyboardMap() override {
    if (!bound_.empty()) putBackLayout();
  }

  // A code's entry at the start: what the settings give it while a killed run's layout is in
  // them (KWin's keymap follows them on its next reload), else what the seat's keymap gave it at
  // connect.
  std::vector<Keysym> keysymsAtStart(uint32_t code) override {
    const char* name =
        keymap_.keymap ? xkb_keymap_key_get_name(keymap_.keymap, code + kXkbOffset) : nullptr;
    const std::vector<kde::ExtraKey> bound =
        layout_ != nullptr && name != nullptr ? layout_->bindings() : std::vector<kde::ExtraKey>{};
    for (const kde::ExtraKey& key : bound) {
      if (key.name != name) continue;
      return {xkb_keysym_from_name(key.alone.c_str(), XKB_KEYSYM_NO_FLAGS),
              xkb_keysym_from_name(key.shifted.c_str(), XKB_KEYSYM_NO_FLAGS)};
    }
    return keymap_.entry(code + kXkbOffset);
  }
  // The user's settings are the saved copy, which comes back as a whole with the next flush();
  // the journal tells what each code gives then.
  void rebindKey(uint32_t code, const std::vector<Keysym>& keysyms) override {
    restoreTo_[code + kXkbOffset] = keysyms;
    putBackPending_ = true;
  }

  std::string journalName() override {
    std::string display = "wayland-0";
    if (const char* name = std::getenv("WAYLAND_DISPLAY"); name && name[0]) display = name;
    std::replace(display.begin(), display.end(), '/', '_');
    return "type-journal-kwin-" + display;
  }

  std::vector<Key> heldModifierKeys() override { return {}; }
  bool capsLockOn() override { return false; }

  // Keys wait here until flush(), which may have to switch the layout before they leave.
  void postKey(const Key& key, bool down) override { queued_.push_back({key.code, down}); }

  void flush() override {
    if (putBackPending_) {
      putBackPending_ = false;
      putBackLayout();
    }
    if (switchPending_ && lost_.empty()) {
      switchPending_ = false;
      std::string why;
      if (!layout_->switchTo(extra_, group_, why)) {
        lost_ = "could not switch to the run's keyboard layout: " + why;
        queued_.clear();
        return;
      }
      kde::RunLayout::reload();
      if (!input_->waitForKeymap([this](const std::string& text) { return carries(text, bound_); },
                                 kKeymapTimeoutMs)) {
        lost_ = "KWin did not take up the run's keyboard layout within " +
                std::to_string(kKeymapTimeoutMs / 1000) + " s";
      }
      if (group_ > 0) kde::RunLayout::selectLayout(group_);
    }
    if (!lost_.empty()) {
      queued_.clear();
      return;
    }
    for (const auto& [code, down] : queued_) input_->key(code, down);
    queued_.clear();
    input_->flush(false);
  }

  bool waitForReader(uint32_t) override {
    flush();
    return input_->flush(true);
  }

  std::string lostReason() override { return lost_.empty() ? input_->lostReason() : lost_; }

 private:
  // Empty key codes with a name, which a symbols file can bind.
  std::vector<xkb_keycode_t> spareCodes() const {
    std::vector<xkb_keycode_t> codes;
    if (!keymap_.keymap) return codes;
    const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap_.keymap), kLastSpareCode);
    for (xkb_keycode_t code = std::max(xkb_keymap_min_keycode(keymap_.keymap), kXkbOffset + 1);
         code <= last; ++code) {
      if (xkb_keymap_num_layouts_for_key(keymap_.keymap, code) == 0 &&
          xkb_keymap_key_get_name(keymap_.keymap, code)) {
        codes.push_back(code);
      }
    }
    return codes;
  }

  static std::string nameOf(Keysym symbol) {
    char name[64];
    if (xkb_keysym_get_name(symbol, name, sizeof name) <= 0) return "NoSymbol";
    return name;
  }

  // Whether the keymap gives each key's keysym at its level.
  static bool carries(const std::string& text, const std::vector<Key>& keys) {
    const Keymap keymap(text);
    for (const Key& key : keys) {
      const std::vector<Keysym> row = keymap.entry(key.code + kXkbOffset);
      const size_t level = key.shift ? 1 : 0;
      if (row.size() <= level || row[level] != key.symbol) return false;
    }
    return keymap.keymap != nullptr;
  }

  // The user's settings back; the run waits until the seat's keymap gives the codes their
  // entries again, so that what comes after this run (another run, the user's typing) finds the
  // user's keymap.
  void putBackLayout() {
    if (!layout_ || !layout_->inEffect()) return;
    for (const Key& key : bound_)
      restoreTo_.emplace(key.code + kXkbOffset, keymap_.entry(key.code + kXkbOffset));
    bound_.clear();
    const std::optional<size_t> group = layout_->putBack();
    if (!group) {
      lost_ = "could not put the keyboard settings (kxkbrc) back";
      return;
    }
    kde::RunLayout::reload();
    input_->waitForKeymap(
        [this](const std::string& text) {
          const Keymap keymap(text);
          return std::all_of(restoreTo_.begin(), restoreTo_.end(), [&](const auto& code) {
            return keymap.entry(code.first) == code.second;
          });
        },
        kKeymapTimeoutMs);
    if (*group > 0) kde::RunLayout::selectLayout(*group);
    restoreTo_.clear();
  }

  std::unique_ptr<kde::FakeInput> input_;
  int32_t frontmost_;
  size_t group_;   // the layout in use, which KWin's reload leaves for the first
  Keymap keymap_;  // the seat's, at connect
  std::unordered_map<Keysym, Key> keys_;
  std::unique_ptr<kde::RunLayout> layout_;  // none where no layout can be switched in
  std::vector<Key> bound_;                  // the current binding's keys
  std::vector<kde::ExtraKey> extra_;        // and its lines in the run's layout
  std::map<xkb_keycode_t, std::vector<Keysym>> restoreTo_;  // entries the put-back gives back
  std::vector<std::pair<uint32_t, bool>> queued_;
  bool switchPending_ = false, putBackPending_ = false;
  std::string lost_;
};

// Every keysym the keymap's group (the layout in use) gives without modifiers or with Shift
// alone, with its evdev code; a keysym found both ways keeps the key without Shift.
std::unordered_map<Keysym, Key> keysOf(const std::string& text, xkb_layout_index_t group) {
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
      // A key with fewer groups than the keymap gives its last one, as XKB's default wraps.
      const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(keymap, code);
      if (groups == 0) continue;
      const xkb_layout_index_t g = group < groups ? group : group % groups;
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, g);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        xkb_mod_mask_t masks[8];
        const size_t count = xkb_keymap_key_get_mods_for_level(keymap, code, g, level, masks, 8);
        bool plain = false, shifted = false;
        for (size_t i = 0; i < count; ++i) {
          plain = plain || masks[i] == 0;
          shifted = shifted || masks[i] == shift;
        }
        if (!plain && !shifted) continue;
        const xkb_keysym_t* symbols = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, g, level, &symbols) != 1) continue;
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
  const size_t group = kde::RunLayout::activeLayout();
  std::unordered_map<Keysym, Key> keys =
      keymap ? keysOf(*keymap, static_cast<xkb_layout_index_t>(group))
             : std::unordered_map<Keysym, Key>{};
  if (keys.empty()) {
    error = "KWin gave no keymap for the seat's keyboard" + tail;
    return nullptr;
  }
  if (!input->hasKeys()) {
    error = "KWin's fake input is too old for keys (version 4 or later is needed)" + tail;
    return nullptr;
  }
  // Without a usable configuration folder only the layout's own characters are typed.
  std::unique_ptr<kde::RunLayout> layout = kde::RunLayout::forUser(why);
  return std::make_unique<KwinPlatform>(std::move(input), frontmost, *keymap, group,
                                        std::move(keys), std::move(layout));
}

}  // namespace type
