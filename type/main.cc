// vantic-type: types text, or presses key chords, into the focused element and prints one report
// line. The core does the work; this front connects it to the system and to signals.
//
// A signal (interrupt, terminate, hang-up, quit) does not end the process at once: it asks the
// core to stop between two keys, the core releases what it pressed and puts the keyboard map and
// the held modifiers back, and then the process ends by the same signal, as its parent expects.
#include <csignal>
#include <cstdio>
#include <string>

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
  std::string problem;
  // Bad arguments get the usage text even where the window system is out of reach.
  if (!type::readArguments(state, problem)) return mevrik::finish(type::usage(problem));

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
    return 1;
  }
  const type::RunResult result = type::perform(*platform, state);
  if (const std::string lost = platform->lostReason(); !lost.empty()) {
    std::fprintf(stderr, "vantic-type: %s\n", lost.c_str());
    return 1;
  }
  const int status = mevrik::finish(result);
  if (caught != 0) {
    platform.reset();
    std::signal(caught, SIG_DFL);
    std::raise(caught);
  }
  return status;
}
