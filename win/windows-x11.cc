// EWMH reading, pipelined: every request that needs no earlier reply leaves before any reply is
// read, so a list of fifty windows costs three round trips (the atoms, the root's properties, all
// windows' properties), not hundreds.
//
// X quirks this file relies on, with the reasons:
// - _NET_CLIENT_LIST_STACKING runs bottom to top; the list is printed topmost first.
// - A stale _NET_SUPPORTING_WM_CHECK (the window manager died) still names a window id; only a
//   check window that names itself proves a running EWMH window manager.
// - Window managers reparent clients into frames, so a client's origin comes from translating
//   (0, 0) to the root, and the frame around it from _NET_FRAME_EXTENTS (left, right, top,
//   bottom), which the window manager keeps up to date.
// - A client may close between two requests: its replies are errors, and it is left out.
// - _NET_WM_NAME (UTF-8) is preferred to WM_NAME (desktop/x11/properties.h).
#include "win/windows-x11.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "desktop/x11/properties.h"

namespace win::x11 {
namespace {

namespace dx11 = mevrik::desktop::x11;
using dx11::Atom;
using dx11::bytes;
using dx11::cardinals;
using dx11::PropertyCookie;
using dx11::take;

// Longest title read, in 32-bit units (16 KiB).
constexpr uint32_t kTitleLongs = 4096;
// Most windows listed: far beyond any desktop, and the reply stays small.
constexpr uint32_t kMostWindows = 65536;
// Most atoms read of _NET_SUPPORTED (window managers announce a few hundred at most).
constexpr uint32_t kMostSupported = 1024;
constexpr uint32_t kAllDesktopsValue = 0xFFFFFFFF;

struct ClientRequests {
  xcb_window_t window;
  PropertyCookie pid, netName, name, wmClass, state, desktop, extents;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t origin;
};

}  // namespace

WindowReader::WindowReader(xcb_connection_t* connection, xcb_window_t root)
    : c_(connection),
      root_(root),
      atoms_(c_, {Atom::kSupportingWmCheck, Atom::kClientListStacking, Atom::kActiveWindow,
                  Atom::kCurrentDesktop, Atom::kWmPid, Atom::kWmName, Atom::kUtf8String,
                  Atom::kWmState, Atom::kWmStateHidden, Atom::kWmDesktop, Atom::kFrameExtents,
                  Atom::kRestackWindow, Atom::kSupported}) {}

uint64_t WindowReader::activeWindow() {
  return dx11::readCard32(c_, root_, atoms_[Atom::kActiveWindow], XCB_ATOM_WINDOW).value_or(0);
}

std::optional<Desktop> WindowReader::read(std::string& error) {
  auto get = [&](xcb_window_t w, xcb_atom_t prop, xcb_atom_t type, uint32_t longs) {
    return dx11::ask(c_, w, prop, type, longs);
  };
  const PropertyCookie checkCookie =
      get(root_, atoms_[Atom::kSupportingWmCheck], XCB_ATOM_WINDOW, 1);
  const PropertyCookie listCookie =
      get(root_, atoms_[Atom::kClientListStacking], XCB_ATOM_WINDOW, kMostWindows);
  const PropertyCookie activeCookie = get(root_, atoms_[Atom::kActiveWindow], XCB_ATOM_WINDOW, 1);
  const PropertyCookie currentCookie =
      get(root_, atoms_[Atom::kCurrentDesktop], XCB_ATOM_CARDINAL, 1);
  const PropertyCookie supportedCookie =
      get(root_, atoms_[Atom::kSupported], XCB_ATOM_ATOM, kMostSupported);

  const auto check = cardinals(dx11::takeProperty(c_, checkCookie), XCB_ATOM_WINDOW);
  // A window manager that announces itself but keeps no stacking list (the property is absent,
  // not empty) cannot say which window is on top: it counts as none.
  const auto listReply = dx11::takeProperty(c_, listCookie);
  const bool listed = listReply && listReply->type == XCB_ATOM_WINDOW;
  const auto clients = cardinals(listReply, XCB_ATOM_WINDOW);
  const auto supported = cardinals(dx11::takeProperty(c_, supportedCookie), XCB_ATOM_ATOM);
  const auto active = cardinals(dx11::takeProperty(c_, activeCookie), XCB_ATOM_WINDOW);
  const auto current = cardinals(dx11::takeProperty(c_, currentCookie), XCB_ATOM_CARDINAL);

  // The check window's own property, with every client's requests in the same round trip.
  const PropertyCookie selfCheck =
      get(check.empty() ? root_ : check[0], atoms_[Atom::kSupportingWmCheck], XCB_ATOM_WINDOW, 1);
  std::vector<ClientRequests> requests;
  requests.reserve(clients.size());
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    const xcb_window_t w = *it;
    requests.push_back(ClientRequests{
        w,
        get(w, atoms_[Atom::kWmPid], XCB_ATOM_CARDINAL, 1),
        get(w, atoms_[Atom::kWmName], atoms_[Atom::kUtf8String], kTitleLongs),
        get(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTitleLongs),
        get(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256),
        get(w, atoms_[Atom::kWmState], XCB_ATOM_ATOM, 64),
        get(w, atoms_[Atom::kWmDesktop], XCB_ATOM_CARDINAL, 1),
        get(w, atoms_[Atom::kFrameExtents], XCB_ATOM_CARDINAL, 4),
        xcb_get_geometry(c_, w),
        xcb_translate_coordinates(c_, w, root_, 0, 0),
    });
  }

  const auto self = cardinals(dx11::takeProperty(c_, selfCheck), XCB_ATOM_WINDOW);
  const bool ewmh = !check.empty() && !self.empty() && self[0] == check[0] && listed &&
                    atoms_[Atom::kClientListStacking] != XCB_ATOM_NONE;
  Desktop desktop;
  if (!current.empty()) desktop.currentDesktop = current[0];
  desktop.activates =
      std::find(supported.begin(), supported.end(), atoms_[Atom::kActiveWindow]) != supported.end();
  const uint32_t activeWindow = active.empty() ? 0 : active[0];
  for (const ClientRequests& r : requests) {
    auto pid = cardinals(dx11::takeProperty(c_, r.pid), XCB_ATOM_CARDINAL);
    auto netName = dx11::takeProperty(c_, r.netName);
    auto name = dx11::takeProperty(c_, r.name);
    const dx11::WmClass wmClass = dx11::splitWmClass(bytes(dx11::takeProperty(c_, r.wmClass)));
    auto state = cardinals(dx11::takeProperty(c_, r.state), XCB_ATOM_ATOM);
    auto onDesktop = cardinals(dx11::takeProperty(c_, r.desktop), XCB_ATOM_CARDINAL);
    auto extents = cardinals(dx11::takeProperty(c_, r.extents), XCB_ATOM_CARDINAL);
    auto geometry = take<xcb_get_geometry_reply>(c_, r.geometry);
    auto origin = take<xcb_translate_coordinates_reply>(c_, r.origin);
    if (!geometry || !origin || !ewmh) continue;

    Window w;
    w.id = r.window;
    if (!pid.empty() && pid[0] <= INT32_MAX) w.pid = static_cast<int32_t>(pid[0]);
    if (netName && netName->type == atoms_[Atom::kUtf8String] && netName->value_len > 0) {
      w.title = bytes(netName);
    } else if (name && name->type == XCB_ATOM_STRING) {
      w.title = dx11::latin1ToUtf8(bytes(name));
    } else {
      w.title = bytes(name);  // COMPOUND_TEXT or UTF-8 under the old name: ASCII reads right
    }
    w.app = wmClass.name.empty() ? wmClass.instance : wmClass.name;
    const xcb_atom_t hidden = atoms_[Atom::kWmStateHidden];
    w.minimized =
        hidden != XCB_ATOM_NONE && std::find(state.begin(), state.end(), hidden) != state.end();
    if (!onDesktop.empty()) {
      w.desktop = onDesktop[0] == kAllDesktopsValue ? kAllDesktops : int64_t{onDesktop[0]};
    }
    const int64_t border = geometry->border_width;
    std::array<int64_t, 4> frame{};  // left, right, top, bottom
    if (extents.size() == 4) {
      for (size_t i = 0; i < 4; ++i) frame[i] = extents[i];
    }
    w.x = origin->dst_x - border - frame[0];
    w.y = origin->dst_y - border - frame[2];
    w.w = geometry->width + 2 * border + frame[0] + frame[1];
    w.h = geometry->height + 2 * border + frame[2] + frame[3];
    w.focused = r.window == activeWindow;
    desktop.windows.push_back(std::move(w));
  }
  if (!ewmh) {
    error =
        "the window manager keeps no EWMH window list (_NET_CLIENT_LIST_STACKING); vantic-win "
        "needs an EWMH window manager";
    return std::nullopt;
  }
  return desktop;
}

}  // namespace win::x11
