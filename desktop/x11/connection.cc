#include "desktop/x11/connection.h"

#include <string_view>

namespace mevrik::desktop::x11 {
namespace {

constexpr std::array<std::string_view, static_cast<size_t>(Atom::kCount)> kAtomNames = {
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_PID",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CLIENT_LIST",
    "_NET_CURRENT_DESKTOP",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_DESKTOP",
    "_NET_FRAME_EXTENTS",
    "_NET_RESTACK_WINDOW",
    "WM_PROTOCOLS",
    "_NET_WM_PING",
    "_GTK_FRAME_EXTENTS",
    "_GTK_APPLICATION_ID",
    "_NET_SUPPORTED",
};

}  // namespace

void roundTrip(xcb_connection_t* c) {
  take<xcb_get_input_focus_reply>(c, xcb_get_input_focus(c));
}

std::optional<Display> connect() {
  int screenNumber = 0;
  Display display;
  display.connection.reset(xcb_connect(nullptr, &screenNumber));
  xcb_connection_t* c = display.connection.get();
  if (xcb_connection_has_error(c)) return std::nullopt;
  display.setup = xcb_get_setup(c);
  auto screens = xcb_setup_roots_iterator(display.setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem <= 0) return std::nullopt;
  display.screen = screens.data;
  return display;
}

std::string unreachable(const std::string& consequence) {
  const char* name = std::getenv("DISPLAY");
  return std::string("cannot open the X display \"") + (name ? name : "") + "\"; " + consequence;
}

std::optional<std::string> displayKey() {
  char* rawHost = nullptr;
  int number = 0;
  if (!xcb_parse_display(nullptr, &rawHost, &number, nullptr)) return std::nullopt;
  std::string host = rawHost ? rawHost : "";
  std::free(rawHost);
  if (host == "unix") host.clear();
  for (char& c : host) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    if (!plain) c = '_';
  }
  return "x11-" + (host.empty() ? "" : host + "-") + std::to_string(number);
}

Atoms::Atoms(xcb_connection_t* c, std::initializer_list<Atom> wanted) : c_(c) {
  for (Atom which : wanted) ask(which);
}

Atoms::~Atoms() {
  for (const auto& cookie : pending_) {
    if (cookie) xcb_discard_reply(c_, cookie->sequence);
  }
}

void Atoms::ask(Atom which) {
  const auto i = static_cast<size_t>(which);
  if (known_[i] || pending_[i]) return;
  const std::string_view name = kAtomNames[i];
  pending_[i] = xcb_intern_atom(c_, true, static_cast<uint16_t>(name.size()), name.data());
}

xcb_atom_t Atoms::operator[](Atom which) {
  const auto i = static_cast<size_t>(which);
  if (!known_[i]) {
    ask(which);
    auto reply = take<xcb_intern_atom_reply>(c_, *pending_[i]);
    pending_[i].reset();
    known_[i] = true;
    values_[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
  return values_[i];
}

}  // namespace mevrik::desktop::x11
