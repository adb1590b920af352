// The GNOME Shell backend of vantic-type: Mevrik's shell extension types inside the shell.
//
// - Text goes to the focused element through the shell's input method where the element takes
//   it, as an input method's candidate does: every Unicode character arrives exactly and the
//   keyboard layout is never looked at or changed. Line ends and tabs press Return and Tab.
// - Elsewhere (Qt 6.4, which speaks no text-input protocol that Mutter offers, and X11 windows
//   under XWayland) text is typed as key codes, as a keyboard types it: the keys of the layout in
//   use (read from the seat's keymap, as every Wayland client gets it), and for each character
//   the layout lacks a spare key code that the extension binds for the call. The extension puts
//   the user's keymap and layout back before it answers, and also when this process leaves the
//   bus midway, so no journal is kept. Those keys go through the seat's state: a modifier or
//   Caps Lock held on a real keyboard applies to them.
// - Chords press keysyms on the extension's virtual keyboard; Mutter finds each keysym's key in
//   the current layout, so a chord's key must be on it (Latin letters, digits, the editing and
//   function keys are on every Latin layout). An upper-case letter is its key with Shift.
// - A key held when the run is killed is released by the shell when the run's bus connection
//   closes.
#include "type/platform-gnome.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "desktop/gnome/shell.h"
#include "desktop/wayland/connection.h"

namespace type {
namespace {

using mevrik::desktop::gnome::Shell;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// The seat's keymap (XKB text), as the compositor gives it to every client that asks for a
// keyboard; none when there is no seat or no keyboard. Mutter 43 crashes when a client asks for
// the keyboard of a seat that has none, so only a seat that announces one is asked.
std::optional<std::string> seatKeymap() {
  mevrik::desktop::wayland::Connection wayland;
  std::string error;
  if (!wayland.open([](void*, wl_registry*, uint32_t, std::string_view, uint32_t) {}, nullptr,
                    error) ||
      !wayland.seat || !(wayland.capabilities & WL_SEAT_CAPABILITY_KEYBOARD))
    return std::nullopt;
  static const wl_keyboard_listener kKeyboard = {
      [](void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        void* text = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0
                         ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                         : MAP_FAILED;
        if (text != MAP_FAILED) {
          *static_cast<std::optional<std::string>*>(data) = std::string(
              static_cast<const char*>(text), strnlen(static_cast<const char*>(text), size));
          munmap(text, size);
        }
        close(fd);
      },
      [](void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {},
      [](void*, wl_keyboard*, uint32_t, wl_surface*) {},
      [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {},
      [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
      [](void*, wl_keyboard*, int32_t, int32_t) {}};
  std::optional<std::string> keymap;
  wl_keyboard* keyboard = wl_seat_get_keyboard(wayland.seat);
  wl_keyboard_add_listener(keyboard, &kKeyboard, &keymap);
  wl_display_roundtrip(wayland.display);
  wl_keyboard_destroy(keyboard);
  return keymap;
}

constexpr uint32_t kXkbOffset = 8;  // XKB key codes are Linux input codes plus 8
// X11 clients (under XWayland) know no key code above this.
constexpr uint32_t kLastX11Code = 255;

// What the keymap offers in one group: the key of every keysym typed without modifiers or with
// Shift alone (without Shift where both type it), and the key codes that carry nothing at all,
// which a binding may take, by their XKB names.
struct Layout {
  std::unordered_map<Keysym, Key> keys;
  std::vector<std::pair<std::string, uint32_t>> spare;
};

std::optional<Layout> layoutOf(const std::string& text, uint32_t group) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!context) return std::nullopt;
  xkb_keymap* keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS);
  xkb_context_unref(context);
  if (!keymap) return std::nullopt;
  Layout layout;
  const xkb_mod_mask_t shift = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
  const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), kLastX11Code);
  for (xkb_keycode_t code = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), kXkbOffset + 1);
       code <= last; ++code) {
    const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(keymap, code);
    if (groups == 0) {
      if (const char* name = xkb_keymap_key_get_name(keymap, code))
        layout.spare.emplace_back(name, code - kXkbOffset);
      continue;
    }
    // A key with fewer groups than the keymap wraps round to its first ones, as XKB does.
    const xkb_layout_index_t in = group % groups;
    for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(keymap, code, in);
         ++level) {
      xkb_mod_mask_t masks[8];
      const size_t count = xkb_keymap_key_get_mods_for_level(keymap, code, in, level, masks, 8);
      const bool plain = std::find(masks, masks + count, 0u) != masks + count;
      if (!plain && std::find(masks, masks + count, shift) == masks + count) continue;
      const xkb_keysym_t* symbols = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, code, in, level, &symbols) != 1) continue;
      const Key key{code - kXkbOffset, !plain, symbols[0]};
      auto [it, added] = layout.keys.emplace(symbols[0], key);
      if (!added && it->second.shift && plain) it->second = key;
    }
  }
  xkb_keymap_unref(keymap);
  return layout;
}

// What one flush sends, in order: runs of text to commit and runs of key events.
struct Piece {
  std::string text;
  std::vector<std::pair<uint32_t, bool>> keys;
};

class GnomePlatform : public Platform {
 public:
  explicit GnomePlatform(std::unique_ptr<Shell> shell) : shell_(std::move(shell)) {}

  int32_t frontmostPid() override {
    const auto focused = shell_->focused();
    return focused ? focused->pid : 0;
  }

  // Text goes through the input method where the focused element takes it, else as key codes of
  // the seat's keymap; chords are keysyms.
  void setTextMode(bool text) override {
    textMode_ = text;
    if (!text) return;
    const std::optional<mevrik::desktop::gnome::Keyboard> keyboard = shell_->keyboard();
    if (!keyboard) {
      // Asked before the first key: nothing has been typed.
      refused_ = true;
      lost_ = shell_->lastError();
    } else if (!keyboard->inputMethod) {
      const std::optional<std::string> keymap = seatKeymap();
      layout_ = keymap ? layoutOf(*keymap, keyboard->group) : std::nullopt;
      if (!layout_) {
        refused_ = true;
        lost_ =
            "the focused element takes no input-method text, and GNOME Shell gave no keymap "
            "to type it with";
      }
    }
  }

  std::optional<Key> findKey(Keysym symbol) override {
    if (layout_) {
      const auto it = layout_->keys.find(symbol);
      if (it == layout_->keys.end()) return std::nullopt;
      return it->second;
    }
    // Every other keysym has a "key": the keysym itself, which the shell (or its input method)
    // types.
    if (!textMode_ && symbol >= 'A' && symbol <= 'Z') return Key{symbol + 0x20, true, symbol};
    return Key{symbol, false, symbol};
  }

  size_t spareKeyCount() override { return layout_ ? layout_->spare.size() : 0; }

  std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) override {
    sendKeys();
    bindings_.clear();
    std::vector<Key> keys;
    for (size_t i = 0; i < symbols.size() && layout_ && i < layout_->spare.size(); ++i) {
      bindings_.emplace_back(layout_->spare[i].first, symbols[i]);
      keys.push_back(Key{layout_->spare[i].second, false, symbols[i]});
    }
    return keys;
  }

  void restoreKeyboardMap() override {}
  std::vector<Key> heldModifierKeys() override { return {}; }
  bool capsLockOn() override { return false; }

  void postKey(const Key& key, bool down) override {
    if (layout_) {
      // Shift released and pressed again between two capitals stays down instead, which spares
      // the shell two paced modifier changes.
      if (down && key.symbol == kShiftL && !codes_.empty() &&
          codes_.back() == std::pair(key.code, false)) {
        codes_.pop_back();
        return;
      }
      codes_.emplace_back(key.code, down);
      return;
    }
    if (textMode_) {
      if (const auto c = characterOf(key.symbol)) {
        if (!down) return;
        if (pieces_.empty() || pieces_.back().text.empty()) pieces_.emplace_back();
        appendUtf8(pieces_.back().text, *c);
        return;
      }
    }
    if (pieces_.empty() || pieces_.back().keys.empty()) pieces_.emplace_back();
    pieces_.back().keys.emplace_back(key.code, down);
  }

  // Key codes wait for the reader's turn, so that one call types a whole binding's keys.
  void flush() override {
    for (const Piece& piece : pieces_) {
      if (!lost_.empty()) break;
      if (!piece.keys.empty()) {
        if (!shell_->keys(piece.keys)) lost_ = shell_->lastError();
        typed_ = typed_ || lost_.empty();
        continue;
      }
      const std::optional<bool> committed = shell_->commitText(piece.text);
      if (!committed) {
        lost_ = shell_->lastError();
      } else if (!*committed) {
        refused_ = true;
        lost_ = "the focused element took no text from GNOME Shell's input method";
      }
      typed_ = typed_ || lost_.empty();
    }
    pieces_.clear();
  }

  bool waitForReader(uint32_t) override {
    flush();
    sendKeys();
    return lost_.empty();
  }

  std::string lostReason() override {
    flush();
    sendKeys();
    if (lost_.empty()) return {};
    if (refused_) return lost_ + (typed_ ? "; the text was typed in part" : "; nothing was typed");
    return "GNOME Shell did not take the keys (" + lost_ + "); the text may be incomplete";
  }

 private:
  void sendKeys() {
    if (codes_.empty() || !lost_.empty()) return;
    const std::optional<bool> typed = shell_->typeKeys(codes_, bindings_);
    codes_.clear();
    if (!typed) {
      lost_ = shell_->lastError();
    } else if (!*typed) {
      refused_ = true;
      lost_ =
          "GNOME Shell cannot bind the characters the keyboard layout lacks (it has set no keymap, "
          "or sets keymaps otherwise than GNOME 43 does)";
    }
    typed_ = typed_ || lost_.empty();
  }

  std::unique_ptr<Shell> shell_;
  bool textMode_ = false;
  // The layout in use, when text is typed as key codes.
  std::optional<Layout> layout_;
  std::vector<std::pair<std::string, Keysym>> bindings_;
  std::vector<std::pair<uint32_t, bool>> codes_;
  std::vector<Piece> pieces_;
  std::string lost_;
  bool refused_ = false;
  bool typed_ = false;
};

}  // namespace

std::unique_ptr<Platform> createGnomePlatform(std::string& error) {
  std::string why;
  auto shell = Shell::connect(why);
  if (!shell) {
    error = mevrik::desktop::gnome::refusal("vantic-type", why, "nothing was typed");
    return nullptr;
  }
  return std::make_unique<GnomePlatform>(std::move(shell));
}

}  // namespace type
