// vantic-click: performs one pointer action at a screen point, puts the real cursor back and
// prints one report line. The core does the work; this front only connects it to the system and
// to the journal: a run killed while it held a button left a record, and every run (and
// "vantic-click --restore" alone) first releases what the record lists.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "click/click.h"
#include "click/platform.h"
#include "common/exit_status.h"
#include "common/journal.h"

int main(int argc, char** argv) {
  click::RunState state;
  state.args.assign(argv, argv + argc);
  const bool restoreOnly = state.args.size() == 2 && state.args[1] == "--restore";
  // Bad arguments get the usage text even where the window system is out of reach.
  if (!restoreOnly && !click::readArguments(state)) return mevrik::finish(click::usage());
  std::string error;
  auto platform = click::createSystemPlatform(error);
  if (!platform) {
    // Reporting an action that never happened would mislead the caller.
    std::fprintf(stderr, "vantic-click: %s\n", error.c_str());
    return mevrik::exit_status::click::kFailed;
  }
  // Opening the journal waits for another run on this display to end.
  std::unique_ptr<mevrik::FileJournal> journal;
  if (const std::string name = platform->journalName(); !name.empty())
    journal = mevrik::FileJournal::open(name);
  const size_t restored = journal ? click::restoreLeftovers(*platform, *journal) : 0;
  state.journal = journal.get();
  const click::RunResult result =
      restoreOnly ? click::RunResult{mevrik::exit_status::click::kOk,
                                     "restored=" + std::to_string(restored) + "\n", ""}
                  : click::perform(*platform, state);
  if (const std::string lost = platform->lostReason(); !lost.empty()) {
    std::fprintf(stderr, "vantic-click: %s\n", lost.c_str());
    return mevrik::exit_status::click::kFailed;
  }
  return mevrik::finish(result);
}
