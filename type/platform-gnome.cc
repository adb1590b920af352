// The GNOME Shell backend of vantic-type: Mevrik's shell extension types inside the shell.
//
// - Text is committed to the focused element through the shell's input method, as an input
//   method's candidate is, so every Unicode character arrives exactly and the keyboard layout is
//   never looked at or changed. Line ends and tabs in the text press Return and Tab.
// - Chords press keysyms on the extension's virtual keyboard; Mutter finds each keysym's key in
//   the current layout, so a chord's key must be on it (Latin letters, digits, the editing and
//   function keys are on every Latin layout). An upper-case letter is its key with Shift.
// - Text needs a focused element that takes input-method text (GTK and Qt text fields do; X11
//   windows under XWayland do not): without one the run refuses before the first character.
// - Other keyboards' held modifiers and Caps Lock belong to their own keyboards' state; committed
//   text is not affected by them, so none are reported or changed, and no journal is kept. A key
//   held when the run is killed is released by the shell when the run's bus connection closes.
#include "type/platform-gnome.h"

#include <utility>
#include <vector>

#include "desktop/gnome/shell.h"

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

  void setTextMode(bool text) override { textMode_ = text; }

  // Every keysym has a "key": the keysym itself, which the shell (or its input method) types.
  std::optional<Key> findKey(Keysym symbol) override {
    if (!textMode_ && symbol >= 'A' && symbol <= 'Z') return Key{symbol + 0x20, true, symbol};
    return Key{symbol, false, symbol};
  }

  size_t spareKeyCount() override { return 0; }
  std::vector<Key> bindSpareKeys(const std::vector<Keysym>&) override { return {}; }
  void restoreKeyboardMap() override {}
  std::vector<Key> heldModifierKeys() override { return {}; }
  bool capsLockOn() override { return false; }

  void postKey(const Key& key, bool down) override {
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
        lost_ =
            "the focused element takes no text from GNOME Shell's input method (no text field "
            "has the focus, or its window is an X11 one)";
      }
      typed_ = typed_ || lost_.empty();
    }
    pieces_.clear();
  }

  bool waitForReader(uint32_t) override {
    flush();
    return lost_.empty();
  }

  std::string lostReason() override {
    flush();
    if (lost_.empty()) return {};
    if (refused_) return lost_ + (typed_ ? "; the text was typed in part" : "; nothing was typed");
    return "GNOME Shell did not take the keys (" + lost_ + "); the text may be incomplete";
  }

 private:
  std::unique_ptr<Shell> shell_;
  bool textMode_ = false;
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
