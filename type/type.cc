#include "type/type.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

#include "common/exit_status.h"
#include "common/utf8.h"

namespace type {
namespace {

using mevrik::decodeUtf8;

// The keysym a character of text is typed with: line ends and tabs press their keys; the other
// control characters have no key that types them.
std::optional<Keysym> textKeysym(char32_t c) {
  if (c == U'\n' || c == U'\r') return kReturn;
  if (c == U'\t') return kTab;
  if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return std::nullopt;
  return keysymForCharacter(c);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

std::optional<Modifier> modifierNamed(std::string_view word) {
  const std::string name = lower(word);
  if (name == "ctrl") return Modifier::kCtrl;
  if (name == "shift") return Modifier::kShift;
  if (name == "alt") return Modifier::kAlt;
  if (name == "super") return Modifier::kSuper;
  return std::nullopt;
}

// The keys that stand for a modifier, preferred first.
std::vector<Keysym> modifierKeysyms(Modifier m) {
  switch (m) {
    case Modifier::kCtrl:
      return {kControlL, kControlR};
    case Modifier::kShift:
      return {kShiftL, kShiftR};
    case Modifier::kAlt:
      return {kAltL, kAltR, kMetaL};
    case Modifier::kSuper:
      return {kSuperL, kSuperR};
  }
  return {};
}

const char* modifierWord(Modifier m) {
  constexpr const char* kWords[] = {"ctrl", "shift", "alt", "super"};
  return kWords[static_cast<int>(m)];
}

std::optional<Keysym> keyNamed(std::string_view name) {
  if (auto m = modifierNamed(name)) return modifierKeysyms(*m).front();
  if (auto keysym = keysymFromName(name)) return keysym;
  // One character stands for the key that types it.
  auto characters = decodeUtf8(name);
  if (characters && characters->size() == 1) return textKeysym(characters->front());
  return std::nullopt;
}

std::optional<Stroke> parseChord(std::string_view chord, std::string& problem) {
  Stroke stroke;
  std::string_view rest = chord;
  // Words before a "+" are modifiers; a "+" at the start of the rest is the key itself (ctrl++).
  for (size_t plus = rest.find('+'); plus != std::string_view::npos && plus != 0;
       plus = rest.find('+')) {
    auto modifier = modifierNamed(rest.substr(0, plus));
    if (!modifier) {
      problem = "unknown modifier \"" + std::string(rest.substr(0, plus)) + "\" in \"" +
                std::string(chord) + "\" (ctrl, shift, alt, super)";
      return std::nullopt;
    }
    stroke.modifiers.push_back(*modifier);
    rest.remove_prefix(plus + 1);
  }
  auto symbol = rest.empty() ? std::nullopt : keyNamed(rest);
  if (!symbol) {
    problem = rest.empty()
                  ? "no key in \"" + std::string(chord) + "\""
                  : "unknown key \"" + std::string(rest) + "\" in \"" + std::string(chord) + "\"";
    return std::nullopt;
  }
  stroke.symbol = *symbol;
  return stroke;
}

// A stretch of strokes typed with one binding of spare key codes: `bind` holds the keysyms the
// map lacks among them, at most as many as there are spare codes.
struct Batch {
  size_t end = 0;
  std::vector<Keysym> bind;
};

std::vector<Batch> planBatches(const std::vector<std::optional<Key>>& found,
                               const std::vector<Stroke>& strokes, size_t spare) {
  std::vector<Batch> batches(1);
  for (size_t i = 0; i < strokes.size(); ++i) {
    if (!found[i]) {
      auto& bind = batches.back().bind;
      if (std::find(bind.begin(), bind.end(), strokes[i].symbol) == bind.end()) {
        if (bind.size() == spare) batches.push_back({});
        batches.back().bind.push_back(strokes[i].symbol);
      }
    }
    batches.back().end = i + 1;
  }
  return batches;
}

// The journal's record of what a run changed and has not put back:
//   vantic-type journal 1
//   released CODE...             modifier keys held at the start and released for the run
//   capslock CODE                the Caps Lock key, switched off for the run
//   bind CODE BEFORE ROW [ROW]   a key code: its entry at the start, and the entries it may
//                                carry now (the one bound last and the one about to be)
// A row lists keysyms in hexadecimal by column (alone, with Shift), separated by commas; "-" is
// an empty row.
constexpr std::string_view kJournalHeader = "vantic-type journal 1";

using Row = std::vector<Keysym>;

struct Binding {
  uint32_t code = 0;
  Row before;
  std::vector<Row> rows;
};

struct Leftovers {
  std::vector<uint32_t> released;
  std::optional<uint32_t> capsLock;
  std::vector<Binding> bound;
};

std::string formatRow(const Row& row) {
  if (row.empty()) return "-";
  std::string text;
  for (Keysym keysym : row) {
    char hex[16];
    std::snprintf(hex, sizeof hex, ",0x%x", static_cast<unsigned>(keysym));
    text += hex;
  }
  return text.substr(1);
}

std::string formatLeftovers(const Leftovers& leftovers) {
  std::string text = std::string(kJournalHeader) + "\n";
  if (!leftovers.released.empty()) {
    text += "released";
    for (uint32_t code : leftovers.released) text += " " + std::to_string(code);
    text += "\n";
  }
  if (leftovers.capsLock) text += "capslock " + std::to_string(*leftovers.capsLock) + "\n";
  for (const Binding& binding : leftovers.bound) {
    text += "bind " + std::to_string(binding.code) + " " + formatRow(binding.before);
    for (const Row& row : binding.rows) text += " " + formatRow(row);
    text += "\n";
  }
  return text;
}

std::optional<uint32_t> parseNumber(std::string_view text, int base) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Row> parseRow(std::string_view text) {
  Row row;
  if (text == "-") return row;
  for (;;) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    if (!item.starts_with("0x")) return std::nullopt;
    auto keysym = parseNumber(item.substr(2), 16);
    if (!keysym) return std::nullopt;
    row.push_back(*keysym);
    if (comma == std::string_view::npos) return row;
    text.remove_prefix(comma + 1);
  }
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// None when the text is not a record of ours, or not a whole one.
std::optional<Leftovers> parseLeftovers(std::string_view text) {
  if (!text.ends_with('\n')) return std::nullopt;
  text.remove_suffix(1);
  const std::vector<std::string_view> lines = split(text, '\n');
  if (lines.front() != kJournalHeader) return std::nullopt;
  Leftovers leftovers;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string_view> words = split(lines[i], ' ');
    if (words[0] == "released" && words.size() >= 2) {
      for (size_t k = 1; k < words.size(); ++k) {
        auto code = parseNumber(words[k], 10);
        if (!code) return std::nullopt;
        leftovers.released.push_back(*code);
      }
    } else if (words[0] == "capslock" && words.size() == 2) {
      leftovers.capsLock = parseNumber(words[1], 10);
      if (!leftovers.capsLock) return std::nullopt;
    } else if (words[0] == "bind" && words.size() >= 4 && words.size() <= 5) {
      Binding binding;
      auto code = parseNumber(words[1], 10);
      auto before = parseRow(words[2]);
      if (!code || !before) return std::nullopt;
      binding.code = *code;
      binding.before = *before;
      for (size_t k = 3; k < words.size(); ++k) {
        auto row = parseRow(words[k]);
        if (!row) return std::nullopt;
        binding.rows.push_back(*row);
      }
      leftovers.bound.push_back(binding);
    } else {
      return std::nullopt;
    }
  }
  return leftovers;
}

// Whether a code's entry still gives the keysyms of `row` in the columns `row` names.
bool carries(const Row& entry, const Row& row) {
  for (size_t column = 0; column < row.size(); ++column) {
    if ((column < entry.size() ? entry[column] : kNoSymbol) != row[column]) return false;
  }
  return !row.empty();
}

class Typist {
 public:
  Typist(Platform& platform, RunState& state) : platform_(platform), state_(state) {}

  RunResult run() {
    platform_.setTextMode(state_.mode == Mode::kText);
    state_.pid = platform_.frontmostPid();
    std::string problem;
    if (!findKeys(problem))
      return {mevrik::exit_status::type::kFailed, "",
              "vantic-type: " + problem + "; nothing was typed\n"};
    held_ = platform_.heldModifierKeys();
    for (const Key& key : held_) platform_.postKey(key, false);
    if (platform_.capsLockOn()) capsLock_ = platform_.findKey(kCapsLock);
    toggleCapsLock();
    if (!held_.empty() || capsLock_) {
      for (const Key& key : held_) leftovers_.released.push_back(key.code);
      if (capsLock_) leftovers_.capsLock = capsLock_->code;
      note();
    }
    platform_.flush();

    typeAll();

    if (bound_) {
      platform_.waitForReader(kReaderTimeout);
      platform_.restoreKeyboardMap();
    }
    toggleCapsLock();
    for (const Key& key : held_) platform_.postKey(key, true);
    platform_.flush();
    // Everything is back once it has left; a display that went away took none of it.
    if (journaled_ && platform_.lostReason().empty()) state_.journal->remove();

    if (state_.sent < state_.strokes.size()) {
      const char* what = state_.mode == Mode::kText ? "characters" : "chords";
      return {
          mevrik::exit_status::type::kFailed, "",
          "vantic-type: " +
              std::string(bindFailed_ ? "could not bind spare key codes" : "stopped by a signal") +
              " after " + std::to_string(state_.sent) + " of " +
              std::to_string(state_.strokes.size()) + " " + what +
              "; no key is left pressed and the keyboard map is as it was\n"};
    }
    return {mevrik::exit_status::type::kOk, reportLine(), ""};
  }

 private:
  // Finds the keys of every stroke and of the modifiers the chords use. Strokes whose key the
  // map lacks are left empty, for spare key codes.
  bool findKeys(std::string& problem) {
    for (const Stroke& stroke : state_.strokes) {
      for (Modifier m : stroke.modifiers) {
        if (modifiers_.count(m)) continue;
        auto key = findFirst(modifierKeysyms(m));
        if (!key) {
          problem = std::string("the keyboard map has no key for ") + modifierWord(m);
          return false;
        }
        modifiers_[m] = *key;
      }
    }
    auto shift = findFirst(modifierKeysyms(Modifier::kShift));
    for (const Stroke& stroke : state_.strokes) {
      auto key = platform_.findKey(stroke.symbol);
      // A key that needs Shift is as good as missing when there is no Shift key.
      if (key && key->shift && !shift) key.reset();
      found_.push_back(key);
    }
    if (shift) modifiers_[Modifier::kShift] = *shift;
    const bool anyMissing = std::any_of(found_.begin(), found_.end(), [](auto& k) { return !k; });
    spare_ = anyMissing ? platform_.spareKeyCount() : 0;
    if (anyMissing && spare_ == 0) {
      // Name the first one, so that the caller knows what to leave out or type otherwise.
      const size_t missing = static_cast<size_t>(
          std::find(found_.begin(), found_.end(), std::nullopt) - found_.begin());
      const Keysym symbol = state_.strokes[missing].symbol;
      char what[48];
      if (const std::optional<char32_t> c = characterOf(symbol)) {
        std::snprintf(what, sizeof what, "U+%04X", static_cast<unsigned>(*c));
      } else {
        std::snprintf(what, sizeof what, "the keysym 0x%x", static_cast<unsigned>(symbol));
      }
      problem = std::string("the keyboard map has no key for ") + what +
                " and no spare key code to bind it to";
      return false;
    }
    return true;
  }

  std::optional<Key> findFirst(const std::vector<Keysym>& symbols) {
    for (Keysym symbol : symbols) {
      if (auto key = platform_.findKey(symbol); key && !key->shift) return key;
    }
    return std::nullopt;
  }

  // Writes what the run has changed so far, and what is about to leave with the next flush,
  // to the journal.
  void note() {
    if (!state_.journal) return;
    state_.journal->write(formatLeftovers(leftovers_));
    journaled_ = true;
  }

  // Notes the entries the spare codes take with the next flush: each code may then carry its
  // last entry or the new one.
  void noteBindings(const std::vector<Key>& keys) {
    if (!state_.journal) return;
    std::map<uint32_t, Row> rows;
    for (const Key& key : keys) {
      Row& row = rows[key.code];
      const size_t column = key.shift ? 1 : 0;
      if (row.size() <= column) row.resize(column + 1, kNoSymbol);
      row[column] = key.symbol;
    }
    for (auto& [code, row] : rows) {
      auto it = std::find_if(leftovers_.bound.begin(), leftovers_.bound.end(),
                             [code](const Binding& b) { return b.code == code; });
      if (it == leftovers_.bound.end()) {
        leftovers_.bound.push_back(Binding{code, platform_.keysymsAtStart(code), {}});
        it = leftovers_.bound.end() - 1;
      }
      it->rows.push_back(row);
      if (it->rows.size() > 2) it->rows.erase(it->rows.begin());
    }
    note();
  }

  void toggleCapsLock() {
    if (!capsLock_) return;
    platform_.postKey(*capsLock_, true);
    platform_.postKey(*capsLock_, false);
  }

  void typeAll() {
    size_t i = 0;
    for (const Batch& batch : planBatches(found_, state_.strokes, spare_)) {
      std::map<Keysym, Key> spareKeys;
      if (!batch.bind.empty()) {
        // Applications must have read the keys of the last binding before the map changes.
        if (bound_) platform_.waitForReader(kReaderTimeout);
        if (state_.stopRequested()) return;
        auto keys = platform_.bindSpareKeys(batch.bind);
        bound_ = true;
        noteBindings(keys);
        if (keys.size() < batch.bind.size()) {
          bindFailed_ = true;
          return;
        }
        for (size_t k = 0; k < batch.bind.size(); ++k) {
          spareKeys[batch.bind[k]] = keys[k];
        }
      }
      for (; i < batch.end; ++i) {
        if (state_.stopRequested()) return;
        std::optional<Key> key = found_[i];
        if (!key) {
          key = spareKeys.at(state_.strokes[i].symbol);
          ++state_.remapped;
        }
        typeStroke(state_.strokes[i], *key);
        ++state_.sent;
      }
    }
  }

  // One stroke as one burst: modifiers down in order, the key down and up, modifiers up in
  // reverse order, sent together so that no key stays down between two sends.
  void typeStroke(const Stroke& stroke, const Key& key) {
    std::vector<Key> hold;
    for (Modifier m : stroke.modifiers) hold.push_back(modifiers_.at(m));
    const bool shiftGiven =
        std::count(stroke.modifiers.begin(), stroke.modifiers.end(), Modifier::kShift) > 0;
    if (auto shift = modifiers_.find(Modifier::kShift);
        key.shift && !shiftGiven && shift != modifiers_.end())
      hold.push_back(shift->second);
    for (const Key& k : hold) platform_.postKey(k, true);
    platform_.postKey(key, true);
    platform_.postKey(key, false);
    for (auto it = hold.rbegin(); it != hold.rend(); ++it) platform_.postKey(*it, false);
    platform_.flush();
  }

  std::string reportLine() const {
    std::string line = "pid=" + std::to_string(state_.pid);
    if (state_.mode == Mode::kText) {
      line += " sent=text characters=" + std::to_string(state_.sent);
    } else {
      line += " sent=keys chords=" + std::to_string(state_.sent);
    }
    line += " remapped=" + std::to_string(state_.remapped);
    if (state_.mode == Mode::kKeys) {
      for (size_t i = 2; i < state_.args.size(); ++i) line += " " + state_.args[i];
    }
    return line + "\n";
  }

  Platform& platform_;
  RunState& state_;
  std::map<Modifier, Key> modifiers_;
  std::vector<std::optional<Key>> found_;
  size_t spare_ = 0;
  std::vector<Key> held_;
  std::optional<Key> capsLock_;  // the Caps Lock key, when Caps Lock was on
  bool bound_ = false;
  bool bindFailed_ = false;
  Leftovers leftovers_;     // what the journal lists
  bool journaled_ = false;  // whether it was written
};

}  // namespace

bool readArguments(RunState& state, std::string& problem) {
  const auto& args = state.args;
  problem.clear();
  state.strokes.clear();
  if (args.size() == 3 && args[1] == "text") {
    state.mode = Mode::kText;
    auto characters = decodeUtf8(args[2]);
    if (!characters) {
      problem = "the text is not valid UTF-8";
      return false;
    }
    for (char32_t c : *characters) {
      auto symbol = textKeysym(c);
      if (!symbol) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
        problem =
            std::string("the text holds the control character ") + code + ", which no key types";
        return false;
      }
      state.strokes.push_back({{}, *symbol});
    }
    return true;
  }
  if (args.size() >= 3 && args[1] == "key") {
    state.mode = Mode::kKeys;
    for (size_t i = 2; i < args.size(); ++i) {
      auto stroke = parseChord(args[i], problem);
      if (!stroke) return false;
      state.strokes.push_back(*stroke);
    }
    return true;
  }
  return false;
}

RunResult usage(const std::string& problem) {
  RunResult result;
  result.status = mevrik::exit_status::type::kUsage;
  if (!problem.empty()) result.err = "vantic-type: " + problem + "\n";
  result.err += kUsage;
  return result;
}

RunResult perform(Platform& platform, RunState& state) {
  state.sent = 0;
  state.remapped = 0;
  return Typist(platform, state).run();
}

RunResult run(Platform& platform, RunState& state) {
  std::string problem;
  if (!readArguments(state, problem)) return usage(problem);
  return perform(platform, state);
}

size_t restoreLeftovers(Platform& platform, mevrik::Journal& journal) {
  const auto text = journal.read();
  if (!text) return 0;
  size_t changes = 0;
  if (const auto leftovers = parseLeftovers(*text)) {
    // A code someone has bound since (a new layout, xmodmap) is theirs now and stays as it is.
    for (const Binding& binding : leftovers->bound) {
      const Row entry = platform.keysymsAtStart(binding.code);
      if (std::any_of(binding.rows.begin(), binding.rows.end(),
                      [&](const Row& row) { return carries(entry, row); })) {
        platform.rebindKey(binding.code, binding.before);
        ++changes;
      }
    }
    if (leftovers->capsLock && !platform.capsLockOn()) {
      const Key capsLock{*leftovers->capsLock, false, kCapsLock};
      platform.postKey(capsLock, true);
      platform.postKey(capsLock, false);
      ++changes;
    }
    const std::vector<Key> held = platform.heldModifierKeys();
    for (uint32_t code : leftovers->released) {
      if (std::none_of(held.begin(), held.end(), [code](const Key& k) { return k.code == code; })) {
        platform.postKey(Key{code, false, kNoSymbol}, true);
        ++changes;
      }
    }
    platform.flush();
  }
  if (platform.lostReason().empty()) journal.remove();
  return changes;
}

}  // namespace type
