#include "desktop/x11/window-facts.h"

#include <xcb/randr.h>

#include <climits>

namespace mevrik::desktop::x11 {
namespace {

// Longest text read, in 32-bit units (16 KiB).
constexpr uint32_t kTextLongs = 4096;
// Most client windows read: far beyond any desktop.
constexpr uint32_t kMostWindows = 65536;

}  // namespace

xcb_connection_t* FactsReader::connection() {
  if (!tried_) {
    tried_ = true;
    display_ = connect();
    if (display_) {
      xcb_connection_t* c = display_->connection.get();
      // Everything a run reads of X11 is named here, so that the atoms arrive together.
      atoms_.emplace(c, std::initializer_list<Atom>{Atom::kActiveWindow, Atom::kWmPid,
                                                    Atom::kWmName, Atom::kUtf8String,
                                                    Atom::kGtkFrameExtents, Atom::kGtkApplicationId,
                                                    Atom::kClientListStacking, Atom::kClientList});
      xcb_prefetch_extension_data(c, &xcb_randr_id);
    }
  }
  return display_ ? display_->connection.get() : nullptr;
}

bool FactsReader::available() {
  return connection() != nullptr;
}

std::optional<std::pair<xcb_window_t, int32_t>> FactsReader::activeWindow() {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  const Frontmost front = readFrontmost(c, display_->screen->root, *atoms_);
  if (front.window == XCB_WINDOW_NONE || front.pid == 0) return std::nullopt;
  return std::make_pair(front.window, front.pid);
}

WindowFacts FactsReader::describe(xcb_window_t w) {
  WindowFacts out;
  xcb_connection_t* c = connection();
  if (!c) return out;
  Atoms& atoms = *atoms_;
  const xcb_atom_t utf8 = atoms[Atom::kUtf8String];
  const PropertyCookie netName = ask(c, w, atoms[Atom::kWmName], utf8, kTextLongs);
  const PropertyCookie name = ask(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, kTextLongs);
  const auto geometry = xcb_get_geometry(c, w);
  const auto origin = xcb_translate_coordinates(c, w, display_->screen->root, 0, 0);
  const PropertyCookie frame = ask(c, w, atoms[Atom::kGtkFrameExtents], XCB_ATOM_CARDINAL, 4);
  const PropertyCookie wmClass = ask(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kTextLongs);
  const PropertyCookie appId = ask(c, w, atoms[Atom::kGtkApplicationId], utf8, kTextLongs);
  const PropertyCookie owner = ask(c, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);

  out.title = text(takeProperty(c, netName), utf8)
                  .value_or(text(takeProperty(c, name), XCB_ATOM_STRING).value_or(""));
  if (auto reply = take<xcb_get_geometry_reply>(c, geometry)) {
    out.width = reply->width;
    out.height = reply->height;
  }
  // Where the window's content starts on the root window: its origin, past the shadow GTK draws
  // around a window with client-side decorations (_GTK_FRAME_EXTENTS: left, right, top, bottom).
  const auto extents = cardinals(takeProperty(c, frame), XCB_ATOM_CARDINAL);
  if (auto place = take<xcb_translate_coordinates_reply>(c, origin)) {
    out.contentX = place->dst_x;
    out.contentY = place->dst_y;
    if (extents.size() >= 4) {
      out.contentX += static_cast<double>(extents[0]);
      out.contentY += static_cast<double>(extents[2]);
    }
  }
  const WmClass parts = splitWmClass(text(takeProperty(c, wmClass), XCB_ATOM_STRING).value_or(""));
  if (!parts.name.empty()) out.wmClass = parts.name;
  out.applicationId = text(takeProperty(c, appId), utf8);
  const auto transientFor = firstCardinal(takeProperty(c, owner), XCB_ATOM_WINDOW);
  if (!out.applicationId && transientFor) {
    // GTK marks only the application's main windows; a dialog names its main window as the
    // one it is transient for, so the id stays the same while a dialog is in front.
    out.applicationId = text(
        takeProperty(c, ask(c, *transientFor, atoms[Atom::kGtkApplicationId], utf8, kTextLongs)),
        utf8);
  }
  if (!out.applicationId || out.applicationId->empty()) out.applicationId = out.wmClass;
  return out;
}

std::optional<int32_t> FactsReader::windowPid(uint64_t window) {
  xcb_connection_t* c = connection();
  if (!c || window == 0 || window > 0xFFFFFFFFu) return std::nullopt;
  const auto w = static_cast<xcb_window_t>(window);
  const auto exists = xcb_get_window_attributes(c, w);
  const PropertyCookie pidCookie = ask(c, w, (*atoms_)[Atom::kWmPid], XCB_ATOM_CARDINAL, 1);
  const bool there = take<xcb_get_window_attributes_reply>(c, exists) != nullptr;
  const auto pid = firstCardinal(takeProperty(c, pidCookie), XCB_ATOM_CARDINAL);
  if (!there || !pid || *pid == 0 || *pid > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*pid);
}

std::optional<xcb_window_t> FactsReader::topWindowOf(int32_t pid) {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  Atoms& atoms = *atoms_;
  const xcb_window_t root = display_->screen->root;
  const PropertyCookie stacking =
      ask(c, root, atoms[Atom::kClientListStacking], XCB_ATOM_WINDOW, kMostWindows);
  const PropertyCookie mapped =
      ask(c, root, atoms[Atom::kClientList], XCB_ATOM_WINDOW, kMostWindows);
  auto windows = cardinals(takeProperty(c, stacking), XCB_ATOM_WINDOW);
  auto inMapOrder = cardinals(takeProperty(c, mapped), XCB_ATOM_WINDOW);
  if (windows.empty()) windows = std::move(inMapOrder);
  // Every window's pid is asked for before the first answer is read.
  std::vector<PropertyCookie> pids;
  pids.reserve(windows.size());
  for (xcb_window_t w : windows)
    pids.push_back(ask(c, w, atoms[Atom::kWmPid], XCB_ATOM_CARDINAL, 1));
  // Bottom to top in both lists (the stacking order, or the order of mapping).
  std::optional<xcb_window_t> found;
  for (size_t i = windows.size(); i-- > 0;) {
    if (found) {
      xcb_discard_reply(c, pids[i].sequence);
      continue;
    }
    const auto owner = firstCardinal(takeProperty(c, pids[i]), XCB_ATOM_CARDINAL);
    if (owner && static_cast<int64_t>(*owner) == pid) found = windows[i];
  }
  return found;
}

std::optional<Box> FactsReader::root() {
  if (!connection()) return std::nullopt;
  const xcb_screen_t* screen = display_->screen;
  return Box{0, 0, screen->width_in_pixels, screen->height_in_pixels};
}

const std::vector<std::pair<int64_t, int64_t>>& FactsReader::monitorCorners() {
  if (corners_) return *corners_;
  corners_.emplace();
  xcb_connection_t* c = connection();
  if (!c) return *corners_;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (!randr || !randr->present) return *corners_;
  auto reply = take<xcb_randr_get_monitors_reply>(
      c, xcb_randr_get_monitors(c, display_->screen->root, true));
  if (!reply) return *corners_;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
       xcb_randr_monitor_info_next(&it)) {
    corners_->emplace_back(it.data->x, it.data->y);
  }
  return *corners_;
}

}  // namespace mevrik::desktop::x11
