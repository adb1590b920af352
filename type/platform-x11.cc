// The X11 backend of vantic-type, on XCB: the core keyboard map (GetKeyboardMapping) to find
// keys, ChangeKeyboardMapping to bind spare key codes, XTest FakeInput for the key events,
// QueryKeymap and the modifier map for held modifiers, root-window properties for the frontmost
// application.
//
// X quirks this file relies on, with the reasons:
// - A keysym is found at the first two levels of the first group only (the core map's first two
//   columns): those are what a key gives alone and with Shift under the usual layouts. A
//   character further out (AltGr levels, other groups) is typed through a spare key code, which
//   does not depend on the layout's state.
// - Keyboard maps name some characters with older keysyms (emdash for U+2014); keys are also
//   indexed by the character they type, so either form finds the key.
// - A spare key code is one to which the map binds nothing. Binding one sends every client a
//   MappingNotify before any key event that follows, and each client fetches the new map when
//   it reads that notify: the key events that follow then type the bound keysym. Spare codes
//   are rarely next to each other, so each is bound by its own ChangeKeyboardMapping; they all
//   leave in one write. Every change makes every client (the window manager too) fetch the map
//   again, so each code carries two keysyms, the second typed with Shift: half the changes.
//   Rewriting a range that spans used keys through the core request would be one change, but
//   it alters those keys' XKB groups and types, so it is never done.
// - Every request is sent in order on one connection, so a key event always follows the map
//   change it needs, and the map is put back only after the events that use it. A binding
//   leaves with the flush of the first key that uses it, after the core has written it to the
//   run's journal; a map entry put back from a killed run's journal is read from the map as it
//   was at connect, before this run changed anything.
// - XCB reports protocol errors as values, so a window that closes between two requests cannot
//   end the process; a lost connection shows in lostReason().
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "desktop/x11/connection.h"
#include "desktop/x11/properties.h"
#include "type/platform-gnome.h"
#include "type/platform-wlroots.h"
#include "type/platform.h"

namespace type {
namespace {

// The wait for an application that does not answer pings: long enough for an idle one.
constexpr uint32_t kUnconfirmedWait = 150000;
constexpr int kLockRow = 1;  // the modifier map's rows: Shift, Lock, Control, Mod1..Mod5

namespace x11 = mevrik::desktop::x11;
using x11::Atom;
using x11::ConnectionPtr;
using x11::Reply;
using x11::take;

// The keysym that stands for the same character as `keysym` (or itself): emdash and U+2014 both
// give 0x1002014.
Keysym sameAs(Keysym keysym) {
  auto character = characterOf(keysym);
  return character ? keysymForCharacter(*character) : keysym;
}

// Requests sent at connect with the atoms, answered together in one round trip.
struct EarlyRequests {
  xcb_get_keyboard_mapping_cookie_t keyboard;
  xcb_get_modifier_mapping_cookie_t modifiers;
  xcb_query_keymap_cookie_t pressed;
  xcb_query_pointer_cookie_t pointer;
};

class X11Platform : public Platform {
 public:
  X11Platform(ConnectionPtr connection, xcb_window_t root, const xcb_setup_t* setup,
              EarlyRequests early)
      : connection_(std::move(connection)),
        root_(root),
        minCode_(setup->min_keycode),
        atoms_(connection_.get(),
               {Atom::kActiveWindow, Atom::kWmPid, Atom::kWmProtocols, Atom::kWmPing}) {
    xcb_connection_t* c = connection_.get();
    protocolsAtom_ = atoms_[Atom::kWmProtocols];
    pingAtom_ = atoms_[Atom::kWmPing];
    if (auto reply = take<xcb_get_keyboard_mapping_reply>(c, early.keyboard)) {
      perCode_ = reply->keysyms_per_keycode;
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
      map_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
    }
    if (auto reply = take<xcb_get_modifier_mapping_reply>(c, early.modifiers)) {
      const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
      const int perRow = reply->keycodes_per_modifier;
      for (int row = 0; row < 8; ++row) {
        for (int k = 0; k < perRow; ++k) {
          if (codes[row * perRow + k] != 0)
            modifierCodes_.push_back({row, codes[row * perRow + k]});
        }
      }
    }
    if (auto reply = take<xcb_query_keymap_reply>(c, early.pressed)) {
      std::copy(std::begin(reply->keys), std::end(reply->keys), pressed_);
    }
    if (auto reply = take<xcb_query_pointer_reply>(c, early.pointer)) {
      capsLock_ = (reply->mask & XCB_MOD_MASK_LOCK) != 0;
    }
  }

  ~X11Platform() override { roundTrip(); }

  X11Platform(const X11Platform&) = delete;
  X11Platform& operator=(const X11Platform&) = delete;

  int32_t frontmostPid() override {
    const auto front = x11::readFrontmost(connection_.get(), root_, atoms_);
    activeWindow_ = front.window;
    return front.pid;
  }

  std::optional<Key> findKey(Keysym symbol) override {
    if (keys_.empty()) indexKeys();
    auto it = keys_.find(symbol);
    if (it == keys_.end()) it = keys_.find(sameAs(symbol));
    if (it == keys_.end()) return std::nullopt;
    return Key{it->second.code, it->second.shift, symbol};
  }

  // Two keysyms a code: one alone, one with Shift.
  size_t spareKeyCount() override { return 2 * spareCodes().size(); }

  std::vector<Key> bindSpareKeys(const std::vector<Keysym>& symbols) override {
    const std::vector<xcb_keycode_t> spare = spareCodes();
    std::vector<Key> keys;
    for (size_t i = 0; i < symbols.size() && i / 2 < spare.size(); i += 2) {
      const xcb_keycode_t code = spare[i / 2];
      // A lone last keysym fills both columns.
      const bool pair = i + 1 < symbols.size();
      const xcb_keysym_t columns[2] = {symbols[i], pair ? symbols[i + 1] : symbols[i]};
      xcb_change_keyboard_mapping(connection_.get(), 1, code, 2, columns);
      if (std::find(bound_.begin(), bound_.end(), code) == bound_.end()) bound_.push_back(code);
      keys.push_back(Key{code, false, symbols[i]});
      if (pair) keys.push_back(Key{code, true, symbols[i + 1]});
    }
    return keys;
  }

  void restoreKeyboardMap() override {
    for (xcb_keycode_t code : bound_) {
      const xcb_keysym_t none = 0;
      xcb_change_keyboard_mapping(connection_.get(), 1, code, 1, &none);
      roundTrip();
    }
    bound_.clear();
    xcb_flush(connection_.get());
  }

  std::vector<Keysym> keysymsAtStart(uint32_t code) override {
    if (code < minCode_ || code - minCode_ >= codeCount()) return {};
    const auto row = map_.begin() + static_cast<std::ptrdiff_t>((code - minCode_) * perCode_);
    std::vector<Keysym> keysyms(row, row + perCode_);
    while (!keysyms.empty() && keysyms.back() == kNoSymbol) keysyms.pop_back();
    return keysyms;
  }

  void rebindKey(uint32_t code, const std::vector<Keysym>& keysyms) override {
    if (code < minCode_ || code - minCode_ >= codeCount()) return;
    std::vector<xcb_keysym_t> columns(keysyms.begin(), keysyms.end());
    if (columns.empty()) columns.push_back(kNoSymbol);
    xcb_change_keyboard_mapping(connection_.get(), 1, static_cast<xcb_keycode_t>(code),
                                static_cast<uint8_t>(std::min<size_t>(columns.size(), 255)),
                                columns.data());
  }

  std::string journalName() override {
    const auto key = x11::displayKey();
    return key ? "type-journal-" + *key : "";
  }

  std::vector<Key> heldModifierKeys() override {
    std::vector<Key> held;
    for (const auto& [row, code] : modifierCodes_) {
      if (row == kLockRow || !isPressed(code)) continue;
      if (std::none_of(held.begin(), held.end(), [&](const Key& k) { return k.code == code; })) {
        held.push_back(Key{code, false, kNoSymbol});
      }
    }
    return held;
  }

  bool capsLockOn() override { return capsLock_; }

  void postKey(const Key& key, bool down) override {
    xcb_test_fake_input(connection_.get(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        static_cast<uint8_t>(key.code), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  }

  void flush() override { xcb_flush(connection_.get()); }

  // The application in front is asked for a _NET_WM_PING answer. The server delivers the key
  // events that XTest queued before it carries out the next request of this client, so the ping
  // reaches the application after the keys, and the application answers only once it has read
  // (and looked up) them. An application that does not take part gets a fixed wait.
  bool waitForReader(uint32_t timeoutMicroseconds) override {
    xcb_connection_t* c = connection_.get();
    if (!answersPing(activeWindow_)) {
      roundTrip();
      sleepFor(std::min(timeoutMicroseconds, kUnconfirmedWait));
      return false;
    }
    if (!watchingRoot_) {
      // Answers go to the root window for its substructure listeners.
      const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
      xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
      watchingRoot_ = true;
    }
    const uint32_t token = ++pings_;
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = activeWindow_;
    ping.type = protocolsAtom_;
    ping.data.data32[0] = pingAtom_;
    ping.data.data32[1] = token;  // the time stamp field, which the answer carries back
    ping.data.data32[2] = activeWindow_;
    xcb_send_event(c, false, activeWindow_, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&ping));
    xcb_flush(c);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutMicroseconds);
    while (true) {
      while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) continue;
        const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        if (answer->type == protocolsAtom_ && answer->data.data32[0] == pingAtom_ &&
            answer->data.data32[1] == token)
          return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (xcb_connection_has_error(c) || left.count() <= 0) return false;
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      // Only the stop signals have handlers, so an interrupted wait means a stop.
      if (poll(&fd, 1, static_cast<int>(left.count()) + 1) < 0 && errno == EINTR) return false;
    }
  }

  std::string lostReason() override {
    if (!xcb_connection_has_error(connection_.get())) return {};
    return "lost the connection to the X display during the run; typing may be incomplete";
  }

 private:
  // Every keysym of the first two columns, and the keysym of the same character, to the key
  // that gives it: unshifted keys first, then the first key in code order.
  void indexKeys() {
    for (int level = 0; level < std::min(2, perCode_); ++level) {
      for (size_t i = 0; i < codeCount(); ++i) {
        const Keysym keysym = map_[i * perCode_ + level];
        if (keysym == kNoSymbol) continue;
        const Key key{static_cast<uint32_t>(minCode_ + i), level == 1, keysym};
        keys_.emplace(keysym, key);
        keys_.emplace(sameAs(keysym), key);
      }
    }
  }

  // Whether the window lists _NET_WM_PING among its WM_PROTOCOLS (asked once).
  bool answersPing(xcb_window_t window) {
    if (window == XCB_WINDOW_NONE || protocolsAtom_ == XCB_ATOM_NONE || pingAtom_ == XCB_ATOM_NONE)
      return false;
    if (!answersPing_) {
      xcb_connection_t* c = connection_.get();
      auto reply = take<xcb_get_property_reply>(
          c, xcb_get_property(c, false, window, protocolsAtom_, XCB_ATOM_ATOM, 0, 64));
      answersPing_ = false;
      if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        const int count = xcb_get_property_value_length(reply.get()) / 4;
        answersPing_ = std::find(atoms, atoms + count, pingAtom_) != atoms + count;
      }
    }
    return *answersPing_;
  }

  static void sleepFor(uint32_t microseconds) {
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    nanosleep(&left, nullptr);  // a stop signal ends it early
  }

  void roundTrip() { x11::roundTrip(connection_.get()); }

  size_t codeCount() const { return perCode_ ? map_.size() / perCode_ : 0; }

  bool isPressed(xcb_keycode_t code) const { return (pressed_[code / 8] >> (code % 8)) & 1; }

  // Key codes to which the map binds nothing, that are no modifier and not held down.
  std::vector<xcb_keycode_t> spareCodes() const {
    std::vector<xcb_keycode_t> spare;
    for (size_t i = 0; i < codeCount(); ++i) {
      const auto code = static_cast<xcb_keycode_t>(minCode_ + i);
      const auto row = map_.begin() + static_cast<std::ptrdiff_t>(i * perCode_);
      if (std::any_of(row, row + perCode_, [](xcb_keysym_t s) { return s != 0; })) continue;
      if (isPressed(code)) continue;
      if (std::any_of(modifierCodes_.begin(), modifierCodes_.end(),
                      [code](const auto& m) { return m.second == code; }))
        continue;
      spare.push_back(code);
    }
    return spare;
  }

  ConnectionPtr connection_;
  xcb_window_t root_;
  xcb_keycode_t minCode_;
  x11::Atoms atoms_;
  xcb_atom_t protocolsAtom_ = XCB_ATOM_NONE;
  xcb_atom_t pingAtom_ = XCB_ATOM_NONE;
  xcb_window_t activeWindow_ = XCB_WINDOW_NONE;  // read by frontmostPid
  std::optional<bool> answersPing_;
  bool watchingRoot_ = false;
  uint32_t pings_ = 0;
  int perCode_ = 0;
  std::vector<xcb_keysym_t> map_;                             // as read at the start
  std::vector<std::pair<int, xcb_keycode_t>> modifierCodes_;  // (row, key code)
  uint8_t pressed_[32] = {};
  bool capsLock_ = false;
  std::vector<xcb_keycode_t> bound_;
  std::unordered_map<Keysym, Key> keys_;  // filled on the first look-up
};

std::unique_ptr<Platform> createX11Platform(x11::Display display, std::string& error) {
  xcb_connection_t* c = display.connection.get();
  const xcb_setup_t* setup = display.setup;
  // Everything leaves in one write and is answered in one round trip.
  xcb_prefetch_extension_data(c, &xcb_test_id);
  const auto codes = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  const xcb_window_t root = display.screen->root;
  EarlyRequests early{
      xcb_get_keyboard_mapping(c, setup->min_keycode, codes),
      xcb_get_modifier_mapping(c),
      xcb_query_keymap(c),
      xcb_query_pointer(c, root),
  };
  // The platform asks for its atoms before it reads the first reply.
  auto platform = std::make_unique<X11Platform>(std::move(display.connection), root, setup, early);
  const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
  if (xcb_connection_has_error(c)) {
    error = x11::unreachable("nothing was typed");
    return nullptr;
  }
  if (!xtest || !xtest->present) {
    error = "the X server has no XTEST extension; nothing was typed";
    return nullptr;
  }
  return platform;
}

}  // namespace

std::unique_ptr<Platform> createXwaylandPlatform(std::string& error) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    error =
        "the window in front is an X11 window under XWayland, which takes keys through "
        "XWayland's X server, and DISPLAY does not name it; nothing was typed";
    return nullptr;
  }
  std::optional<x11::Display> display = x11::connect();
  if (!display) {
    error = x11::unreachable("nothing was typed");
    return nullptr;
  }
  return createX11Platform(std::move(*display), error);
}

std::unique_ptr<Platform> createSystemPlatform(std::string& error) {
  // In a Wayland session the X server is XWayland: its keys reach only XWayland's own windows,
  // so the text would go nowhere or to another window than the one in front.
  return x11::Backends<Platform>{createX11Platform, createWlrootsPlatform, createGnomePlatform,
                                 createKwinPlatform}
      .pick("vantic-type", "X11 keys do not reach Wayland windows", "nothing was typed", error);
}

}  // namespace type
