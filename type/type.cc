#include "type/type.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

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

class Typist {
 public:
  Typist(Platform& platform, RunState& state) : platform_(platform), state_(state) {}

  RunResult run() {
    state_.pid = platform_.frontmostPid();
    std::string problem;
    if (!findKeys(problem)) return {1, "", "vantic-type: " + problem + "; nothing was typed\n"};
    held_ = platform_.heldModifierKeys();
    for (const Key& key : held_) platform_.postKey(key, false);
    if (platform_.capsLockOn()) capsLock_ = platform_.findKey(kCapsLock);
    toggleCapsLock();
    platform_.flush();

    typeAll();

    if (bound_) {
      platform_.waitForReader(kReaderTimeout);
      platform_.restoreKeyboardMap();
    }
    toggleCapsLock();
    for (const Key& key : held_) platform_.postKey(key, true);
    platform_.flush();

    if (state_.sent < state_.strokes.size()) {
      const char* what = state_.mode == Mode::kText ? "characters" : "chords";
      return {
          1, "",
          "vantic-type: " +
              std::string(bindFailed_ ? "could not bind spare key codes" : "stopped by a signal") +
              " after " + std::to_string(state_.sent) + " of " +
              std::to_string(state_.strokes.size()) + " " + what +
              "; no key is left pressed and the keyboard map is as it was\n"};
    }
    return {0, reportLine(), ""};
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
      problem = "the keyboard map lacks a key that is needed and has no spare key code to bind";
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
  result.status = 2;
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

}  // namespace type
