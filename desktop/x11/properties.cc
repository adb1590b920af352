#include "desktop/x11/properties.h"

#include <algorithm>
#include <climits>

namespace mevrik::desktop::x11 {

PropertyCookie ask(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                   uint32_t longs) {
  return xcb_get_property(c, false, window, property, type, 0, longs);
}

PropertyReply takeProperty(xcb_connection_t* c, PropertyCookie cookie) {
  return take<xcb_get_property_reply>(c, cookie);
}

std::vector<uint32_t> cardinals(const PropertyReply& reply, xcb_atom_t type) {
  if (!reply || reply->format != 32 || (type != XCB_ATOM_NONE && reply->type != type)) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get()) / 4;
  return std::vector<uint32_t>(values, values + std::max(length, 0));
}

std::optional<uint32_t> firstCardinal(const PropertyReply& reply, xcb_atom_t type) {
  if (!reply || reply->type != type || reply->format != 32 || reply->value_len < 1 ||
      xcb_get_property_value_length(reply.get()) < static_cast<int>(sizeof(uint32_t))) {
    return std::nullopt;
  }
  return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
}

std::string bytes(const PropertyReply& reply) {
  if (!reply || reply->format != 8) return {};
  const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
  return std::string(data,
                     static_cast<size_t>(std::max(xcb_get_property_value_length(reply.get()), 0)));
}

std::optional<std::string> text(const PropertyReply& reply, xcb_atom_t type) {
  if (!reply || type == XCB_ATOM_NONE || reply->type != type || reply->format != 8 ||
      reply->value_len == 0) {
    return std::nullopt;
  }
  return bytes(reply);
}

std::optional<uint32_t> readCard32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                   xcb_atom_t type) {
  if (property == XCB_ATOM_NONE) return std::nullopt;
  return firstCardinal(takeProperty(c, ask(c, window, property, type, 1)), type);
}

std::string latin1ToUtf8(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) {
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else {
      out += static_cast<char>(0xC0 | (ch >> 6));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

WmClass splitWmClass(const std::string& raw) {
  WmClass parts;
  const size_t split = raw.find('\0');
  parts.instance = raw.substr(0, split);
  if (split == std::string::npos) return parts;
  parts.name = raw.substr(split + 1);
  if (const size_t end = parts.name.find('\0'); end != std::string::npos) parts.name.resize(end);
  return parts;
}

Frontmost readFrontmost(xcb_connection_t* c, xcb_window_t root, Atoms& atoms) {
  Frontmost front;
  auto window = readCard32(c, root, atoms[Atom::kActiveWindow], XCB_ATOM_WINDOW);
  if (!window || *window == XCB_WINDOW_NONE) return front;
  front.window = *window;
  auto pid = readCard32(c, *window, atoms[Atom::kWmPid], XCB_ATOM_CARDINAL);
  if (pid && *pid != 0 && *pid <= INT32_MAX) front.pid = static_cast<int32_t>(*pid);
  return front;
}

}  // namespace mevrik::desktop::x11
