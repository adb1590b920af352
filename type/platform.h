// The one interface through which the keyboard core reaches the window system.
//
// It exists so that the core (argument grammar, the plan of key events, the spare-key batches,
// putting held modifiers and the keyboard map back, the report) is one piece of code for every
// system, and can run against a recorder in tests and in vantic-type-trace. Backends: the
// recorder (platform-recorder.cc), X11 with XTest on Linux (platform-x11.cc), Quartz events on
// macOS (platform-mac.cc). CMake picks the system backend; the core never tests the platform.
//
// Nothing here throws: a read that fails gives no value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "type/keysyms.h"

namespace type {

// A key that types one keysym: the backend's key code, and whether Shift must be held for it.
// `symbol` is the keysym it was found or bound for (backends that type characters directly, as
// macOS does, read it).
struct Key {
  uint32_t code = 0;
  bool shift = false;
  Keysym symbol = kNoSymbol;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Process id of the application in front, 0 when there is none.
  virtual int32_t frontmostPid() = 0;
  // Told before the first key is looked up: whether the strokes are text (true) or chords.
  // Backends that type text otherwise than with keys read it.
  virtual void setTextMode(bool) {}

  // The key that types `symbol` in the current keyboard map, alone or with Shift; none when the
  // map lacks it.
  virtual std::optional<Key> findKey(Keysym symbol) = 0;
  // How many keysyms bindSpareKeys can bind at once (key codes the map leaves empty).
  virtual size_t spareKeyCount() = 0;
  // Binds each keysym to its own spare key code, in one change of the keyboard map, and gives
  // the keys in the same order. Earlier bindings of the run are replaced. Asks for at most
  // spareKeyCount() keysyms. The change leaves with the next flush(), so that the caller can
  // note it in the run's journal first.
  virtual std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) = 0;
  // Puts back the map entries of every key code bound during the run, as they were at the start.
  virtual void restoreKeyboardMap() = 0;

  // For the journal, where the system has a keyboard map to change: the keysyms the map gave
  // the key code when the run started (its columns, without the empty ones at the end), and a
  // new map entry for one code, which leaves with the next flush().
  virtual std::vector<Keysym> keysymsAtStart(uint32_t) { return {}; }
  virtual void rebindKey(uint32_t, const std::vector<Keysym>&) {}
  // The name of this display's journal (one path component), or "" where runs keep none.
  virtual std::string journalName() { return {}; }

  // Modifier keys held down now (by a person or another program), Caps Lock not among them.
  virtual std::vector<Key> heldModifierKeys() = 0;
  // Whether Caps Lock is on.
  virtual bool capsLockOn() = 0;

  // Posts a press or release of the key. Posts may wait in a buffer until flush().
  virtual void postKey(const Key& key, bool down) = 0;
  // Sends every posted event to the window system, in one piece where it can.
  virtual void flush() = 0;
  // Waits until the application in front has read every key event posted so far, or at most
  // the timeout when it cannot tell; a stop signal ends the wait early. Gives whether the
  // application confirmed it.
  virtual bool waitForReader(uint32_t timeoutMicroseconds) = 0;

  // Why the window system stopped taking events during the run (the display went away), or ""
  // while it is there.
  virtual std::string lostReason() { return {}; }
};

// The window system's backend of this build (chosen by CMake). Gives none, with the reason in
// `error`, when the window system cannot be reached.
std::unique_ptr<Platform> createSystemPlatform(std::string& error);

}  // namespace type
