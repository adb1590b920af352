// Records the pointer input the X server sees, for the end-to-end checks of vantic-click (and,
// with --keys, the key input, for those of vantic-type).
//
// Selects XI2 raw events (button press, button release, motion) on the root window: they reach
// this client whatever window is under the pointer and whatever grabs are active, with the
// server's own timestamps, so the checks see what applications were given and when. GTK3 reads
// XI2 events, so core events on one window (xev) would show nothing.
//
//   click_xi2_record [--quiet MS] [--timeout MS] [--keys]
//
// Prints "ready" once the selection is active, then one line per event:
//   press BUTTON t=MS        release BUTTON t=MS        motion t=MS [x=X] [y=Y]
//   keypress CODE t=MS       keyrelease CODE t=MS       (--keys only)
// (x and y are the raw valuator values, present when the device reported them). Exits after MS
// milliseconds without an event once one was seen (--quiet, default 500), or after --timeout
// (default 20000) in any case.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

long argument(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
  }
  return fallback;
}

void printEvent(const XIRawEvent& raw) {
  switch (raw.evtype) {
    case XI_RawButtonPress:
      std::printf("press %d t=%lu\n", raw.detail, raw.time);
      break;
    case XI_RawButtonRelease:
      std::printf("release %d t=%lu\n", raw.detail, raw.time);
      break;
    case XI_RawKeyPress:
      std::printf("keypress %d t=%lu\n", raw.detail, raw.time);
      break;
    case XI_RawKeyRelease:
      std::printf("keyrelease %d t=%lu\n", raw.detail, raw.time);
      break;
    case XI_RawMotion: {
      std::printf("motion t=%lu", raw.time);
      // raw_values holds one value per set bit of the mask, in axis order.
      const double* value = raw.raw_values;
      for (int axis = 0; axis < raw.valuators.mask_len * 8 && axis < 2; ++axis) {
        if (!XIMaskIsSet(raw.valuators.mask, axis)) continue;
        std::printf(" %c=%g", axis == 0 ? 'x' : 'y', *value++);
      }
      std::printf("\n");
      break;
    }
    default:
      break;
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long quietMs = argument(argc, argv, "--quiet", 500);
  const long timeoutMs = argument(argc, argv, "--timeout", 20000);
  std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "click_xi2_record: cannot open the display\n");
    return 1;
  }
  Display* d = display.get();
  int opcode = 0, event = 0, error = 0;
  if (!XQueryExtension(d, "XInputExtension", &opcode, &event, &error)) {
    std::fprintf(stderr, "click_xi2_record: no XInput extension\n");
    return 1;
  }
  // Raw events reach root-window clients during grabs only from XI 2.1 on.
  int major = 2, minor = 2;
  if (XIQueryVersion(d, &major, &minor) != Success || (major == 2 && minor < 1)) {
    std::fprintf(stderr, "click_xi2_record: XI 2.1 or later needed\n");
    return 1;
  }
  unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(maskBits, XI_RawButtonPress);
  XISetMask(maskBits, XI_RawButtonRelease);
  XISetMask(maskBits, XI_RawMotion);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keys") == 0) {
      XISetMask(maskBits, XI_RawKeyPress);
      XISetMask(maskBits, XI_RawKeyRelease);
    }
  }
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof maskBits), maskBits};
  XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
  XSync(d, False);
  std::printf("ready\n");
  std::fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto lastEvent = Clock::time_point{};
  bool seen = false;
  while (true) {
    while (XPending(d) > 0) {
      XEvent ev;
      XNextEvent(d, &ev);
      XGenericEventCookie* cookie = &ev.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode) continue;
      if (!XGetEventData(d, cookie)) continue;
      printEvent(*static_cast<XIRawEvent*>(cookie->data));
      XFreeEventData(d, cookie);
      seen = true;
      lastEvent = Clock::now();
    }
    auto now = Clock::now();
    if (now >= deadline) break;
    auto until = deadline;
    if (seen) {
      auto quietEnd = lastEvent + std::chrono::milliseconds(quietMs);
      if (now >= quietEnd) break;
      if (quietEnd < until) until = quietEnd;
    }
    auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(waitMs));
  }
  return 0;
}
