#include "desktop/session.h"

#include <array>
#include <cstdlib>

namespace mevrik::desktop {
namespace {

std::string_view variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Desktop names as the session files of the compositors built on wlroots announce them.
constexpr std::array<std::string_view, 9> kWlrootsDesktops = {
    "sway", "wlroots", "river", "wayfire", "labwc", "dwl", "hikari", "cage", "qtile"};

// The family of one entry of XDG_CURRENT_DESKTOP (or of XDG_SESSION_DESKTOP), if known.
bool familyOf(std::string_view name, Session& family) {
  // "GNOME", "GNOME-Classic", "GNOME-Flashback", and distributions' "ubuntu:GNOME".
  if (equalsIgnoringCase(name.substr(0, 5), "gnome")) {
    family = Session::kGnome;
    return true;
  }
  if (equalsIgnoringCase(name, "kde") || equalsIgnoringCase(name, "plasma") ||
      equalsIgnoringCase(name, "plasmawayland")) {
    family = Session::kKde;
    return true;
  }
  for (std::string_view wlroots : kWlrootsDesktops) {
    if (equalsIgnoringCase(name, wlroots)) {
      family = Session::kWlroots;
      return true;
    }
  }
  return false;
}

}  // namespace

Environment Environment::ofProcess() {
  return Environment{variable("WAYLAND_DISPLAY"), variable("XDG_SESSION_TYPE"),
                     variable("XDG_CURRENT_DESKTOP"), variable("XDG_SESSION_DESKTOP"),
                     variable("SWAYSOCK")};
}

Session detectSession(const Environment& env) {
  // A compositor announces itself to the programs it starts with WAYLAND_DISPLAY; a login
  // manager with XDG_SESSION_TYPE. Either one means that X11, if there is a display at all,
  // is XWayland, which sees only its own windows.
  if (env.waylandDisplay.empty() && env.sessionType != "wayland") return Session::kX11;
  Session family = Session::kOtherWayland;
  std::string_view list = env.currentDesktop;
  while (!list.empty()) {
    const size_t colon = list.find(':');
    if (familyOf(list.substr(0, colon), family)) return family;
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  if (familyOf(env.sessionDesktop, family)) return family;
  // sway sets SWAYSOCK for every program it starts, also when no session file named it.
  if (!env.swaySocket.empty()) return Session::kWlroots;
  return Session::kOtherWayland;
}

bool snapshotsServed(Session session) {
  return session == Session::kX11 || session == Session::kWlroots || session == Session::kKde;
}

std::string_view compositorName(Session session) {
  switch (session) {
    case Session::kX11:
      return "";
    case Session::kWlroots:
      return "sway/wlroots";
    case Session::kGnome:
      return "GNOME Shell";
    case Session::kKde:
      return "KDE Plasma (KWin)";
    case Session::kOtherWayland:
      break;
  }
  return "an unknown compositor";
}

std::string refusal(Session session, std::string_view tool, std::string_view why,
                    std::string_view tail) {
  std::string line = "Wayland session: ";
  line += tool;
  line += " needs an X11 session, sway or KWin (";
  line += why;
  line += "; the compositor here is ";
  line += compositorName(session);
  line += "); ";
  line += tail;
  return line;
}

}  // namespace mevrik::desktop
