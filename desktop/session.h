// Which desktop session the tools run in, and so which backend can reach its windows and input.
//
// The answer comes from the environment the session gives the programs it starts, so it costs
// no connection: a tool decides before it opens any socket. A backend still checks that the
// compositor offers what it needs when it connects.
#pragma once

#include <string>
#include <string_view>

namespace mevrik::desktop {

enum class Session {
  kX11,           // an X server (or no display at all: the X11 backend says it cannot reach one)
  kWlroots,       // sway or another compositor built on wlroots
  kGnome,         // GNOME Shell (Mutter)
  kKde,           // KDE Plasma (KWin)
  kOtherWayland,  // a Wayland compositor of none of these families
};

// The variables the answer depends on; empty when unset.
struct Environment {
  std::string_view waylandDisplay;  // WAYLAND_DISPLAY
  std::string_view sessionType;     // XDG_SESSION_TYPE
  std::string_view currentDesktop;  // XDG_CURRENT_DESKTOP (a colon-separated list)
  std::string_view sessionDesktop;  // XDG_SESSION_DESKTOP
  std::string_view swaySocket;      // SWAYSOCK

  static Environment ofProcess();
};

Session detectSession(const Environment& environment);
inline Session detectSession() {
  return detectSession(Environment::ofProcess());
}

inline bool isWayland(Session session) {
  return session != Session::kX11;
}

// Whether vantic-ax gives true screen positions in this session. The setup program asks the
// same question, so that it never shows accessibility as ready where snapshots are refused.
bool snapshotsServed(Session session);

// How the compositor is named in messages: "sway/wlroots", "GNOME Shell", "KDE Plasma (KWin)",
// "an unknown compositor"; empty for X11.
std::string_view compositorName(Session session);

// The line a tool prints when it cannot serve this Wayland session:
//   "Wayland session: TOOL needs an X11 session, sway or KWin (WHY; the compositor here is
//   NAME); TAIL"
// where `why` says what this one lacks and `tail` what was therefore not done (or what the user
// can do).
std::string refusal(Session session, std::string_view tool, std::string_view why,
                    std::string_view nothingDone);

}  // namespace mevrik::desktop
