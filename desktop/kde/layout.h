// A keyboard layout of a run's own on KWin. Fake input sends key codes, which KWin and every
// client read through the seat's keymap, and KWin takes that keymap only from its layout
// settings (kxkbrc's [Layout] LayoutList and VariantList), which it reads again when its settings
// module says so over D-Bus. So a run that needs characters the layout lacks writes an XKB
// symbols file that includes the layout in use and binds those characters to key codes it
// leaves empty, names that file in kxkbrc in the place of the layout in use, and puts the user's
// kxkbrc back, byte for byte, when it ends.
//
// The user's kxkbrc is saved beside the run's file before it changes, and both stay until it is
// back: a run that was killed leaves them, and the next run that binds keys (or vantic-type
// --restore, through the run's journal) finds the saved copy and puts it back. Until then the
// leftover layout is still the user's own plus a few keys nobody else uses.
//
// XKB finds a layout by name under its include paths; KWin makes its list of those paths once,
// when it starts, without the user's ~/.config/xkb unless that folder already existed then. The
// run's layout is therefore named by a path relative to any of them that climbs to the root and
// down to the file.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mevrik::desktop::kde {

// A key the run's layout binds: its XKB name (I253) and the keysyms' names it gives alone and
// with Shift.
struct ExtraKey {
  std::string name;
  std::string alone, shifted;
};

class RunLayout {
 public:
  // The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config). None, with the reason in
  // `error`, when there is none or its path cannot name a layout.
  static std::unique_ptr<RunLayout> forUser(std::string& error);

  // Whether KWin's settings hold a run's layout now (the user's kxkbrc is saved).
  bool inEffect() const;
  // Writes the run's layout (the layout `active` of the user's list, with `keys` added) and names
  // it in kxkbrc in that place, having saved the user's kxkbrc first (unless a saved copy is
  // already there). KWin takes it up on reload(). False, with the reason in `error`, when the
  // files could not be written.
  bool switchTo(const std::vector<ExtraKey>& keys, size_t active, std::string& error);
  // The keys the run's layout binds, while KWin's settings name it (what KWin gives from its next
  // reload, or its next start, whatever its keymap shows now); none otherwise.
  std::vector<ExtraKey> bindings() const;
  // Puts the user's kxkbrc back as it was saved (unless it names another layout by now) and
  // removes the run's files. Gives the index of the layout that was in use, or none when there
  // was nothing to put back or it could not be written.
  std::optional<size_t> putBack();
  // Asks KWin to read its layout settings again, with the signal KDE's settings module sends.
  // KWin then starts again on the first of several layouts.
  static void reload();
  // The index of the layout in use, 0 when there is only one; and a switch to another.
  static size_t activeLayout();
  static void selectLayout(size_t index);

 private:
  explicit RunLayout(std::string folder) : config_(std::move(folder)) {}
  std::string config_;
};

// kxkbrc's text with [Layout]'s LayoutList and VariantList set to these values and every other
// line as it was (the group is added when missing).
std::string withLayouts(std::string_view kxkbrc, const std::string& layouts,
                        const std::string& variants);
// The value of `key` in `group` of a KDE settings file, or none.
std::optional<std::string> entryOf(std::string_view text, std::string_view group,
                                   std::string_view key);

}  // namespace mevrik::desktop::kde
