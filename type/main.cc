// vantic-type: types text, or presses key chords, into the focused element and prints one report
// line. The core does the work; this front connects it to the system, to signals and to the
// journal.
//
// A signal (interrupt, terminate, hang-up, quit) does not end the process at once: it asks the
// core to stop between two keys, the core releases what it pressed and puts the keyboard map and
// the held modifiers back, and then the process ends by the same signal, as its parent expects.
// SIGKILL cannot be caught: what a killed run changed is in its journal, and every run (and
// "vantic-type --restore" alone) first puts back what the journal lists.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "common/exit_status.h"
#include "common/journal.h"
#include "type/platform.h"
#include "type/type.h"

namespace {

volatile std::sig_atomic_t caught = 0;

void onSignal(int number) {
  caught = number;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

int main(int argc, char** argv) {
  type::RunState state;
  state.args.assign(argv, argv + argc);
  const bool restoreOnly = state.args.size() == 2 && state.args[1] == "--restore";
  std::string problem;
  // Bad arguments get the usage text even where the window system is out of reach.
  if (!restoreOnly && !type::readArguments(state, problem))
    return mevrik::finish(type::usage(problem));

  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kStopSignals) sigaction(number, &action, nullptr);
  // A write to a display that went away must end in lostReason(), not in SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  state.stopRequested = [] { return caught != 0; };

  std::string error;
  auto platform = type::createSystemPlatform(error);
  if (!platform) {
    std::fprintf(stderr, "vantic-type: %s\n", error.c_str());
    return mevrik::exit_status::type::kFailed;
  }
  // Opening the journal waits for another run on this display to end.
  std::unique_ptr<mevrik::FileJournal> journal;
  if (const std::string name = platform->journalName(); !name.empty())
    journal = mevrik::FileJournal::open(name);
  const size_t restored = journal ? type::restoreLeftovers(*platform, *journal) : 0;
  if (restored > 0 && !restoreOnly) {
    // The map and the key states read at connect are stale now.
    platform.reset();
    platform = type::createSystemPlatform(error);
    if (!platform) {
      std::fprintf(stderr, "vantic-type: %s\n", error.c_str());
      return mevrik::exit_status::type::kFailed;
    }
  }
  state.journal = journal.get();
  const type::RunResult result =
      restoreOnly ? type::RunResult{mevrik::exit_status::type::kOk,
                                    "restored=" + std::to_string(restored) + "\n", ""}
                  : type::perform(*platform, state);
  if (const std::string lost = platform->lostReason(); !lost.empty()) {
    std::fprintf(stderr, "vantic-type: %s\n", lost.c_str());
    return mevrik::exit_status::type::kFailed;
  }
  const int status = mevrik::finish(result);
  if (caught != 0) {
    platform.reset();
    std::signal(caught, SIG_DFL);
    std::raise(caught);
  }
  return status;
}
