// The keyboard tool's core: one run of vantic-type, from its argument vector to its report line.
//
// Runs once from top to bottom against a Platform. Every output of a run (the report line, the
// messages, the exit status) comes back in a RunResult, so that the command-line front writes it
// and a recorder can see it.
//
// The plan of a run: release the modifiers someone holds and switch Caps Lock off, so that they
// change nothing that is typed; type each character or chord as one burst of presses and
// releases; bind the keysyms the keyboard map lacks to spare key codes, as many at once as there
// are spare codes, and wait for applications to read them before the map changes again; at the
// end (also when stopped) put the map, Caps Lock and the held modifiers back as they were.
//
// Each of those changes is noted in the run's journal before it leaves, and the journal is
// removed once everything is back: a run killed in between (SIGKILL cannot be caught) leaves a
// record from which restoreLeftovers, run first by the next vantic-type, puts the desktop back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/journal.h"
#include "common/output.h"
#include "type/keysyms.h"
#include "type/platform.h"

namespace type {

inline constexpr char kUsage[] =
    "usage: vantic-type text STRING\n"
    "       vantic-type key CHORD...   (CHORD: [ctrl+][shift+][alt+][super+]KEY, such as ctrl+l,\n"
    "                                   Return, shift+Tab; KEY is an X keysym name or one "
    "character)\n";

// The longest wait for the application to read the key events typed through spare key codes
// before those codes are bound again or put back. An X client looks a key code up in the map as
// it is when the client reads the event, so a change that comes before would make the events
// type something else. Applications normally confirm within milliseconds; the limit only keeps
// a hung one from holding the run.
inline constexpr uint32_t kReaderTimeout = 2000000;

enum class Modifier { kCtrl, kShift, kAlt, kSuper };

// One character of text, or one chord: modifiers held, in the order given, around one key.
struct Stroke {
  std::vector<Modifier> modifiers;
  Keysym symbol = kNoSymbol;
};

enum class Mode { kText, kKeys };

struct RunState {
  std::vector<std::string> args;  // element 0 is the program path
  Mode mode = Mode::kText;
  std::vector<Stroke> strokes;
  int32_t pid = 0;      // frontmost application, 0 when none
  size_t sent = 0;      // strokes posted
  size_t remapped = 0;  // of those, typed through a spare key code
  // Asked between strokes: true ends the typing early (a signal came), and the run still puts
  // everything back.
  std::function<bool()> stopRequested = [] { return false; };
  // Where the run notes its changes before making them; none keeps no record.
  mevrik::Journal* journal = nullptr;
};

using RunResult = mevrik::RunResult;

// Reads mode and strokes from state.args. On failure gives false, with the reason in `problem`
// ("" when the arguments are simply not of the tool's shape).
bool readArguments(RunState& state, std::string& problem);

// "vantic-type: PROBLEM" (when there is one) and the usage text on standard error, status 2.
RunResult usage(const std::string& problem = {});

// Types the strokes that readArguments read.
RunResult perform(Platform& platform, RunState& state);

// The whole run: state.args must hold the argument vector.
RunResult run(Platform& platform, RunState& state);

// Puts back what a killed run left, as its journal lists it: key codes it bound that still carry
// its keysyms get their old entries, Caps Lock that it switched off goes on again, and modifiers
// that it released and nobody holds now are pressed again, as a finished run does. A record that
// is not one of ours is dropped. Removes the journal once that is done; gives the number of
// changes made (0: nothing was left over). State read at the platform's start is stale after a
// change: use a new platform for the run that follows.
size_t restoreLeftovers(Platform& platform, mevrik::Journal& journal);

}  // namespace type
