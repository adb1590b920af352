// How AT-SPI2 roles and states translate into the attribute answers the snapshot core expects.
//
// Kept apart from the D-Bus plumbing so the translation can be checked without a desktop: these
// are pure functions of the numbers an application reports.
#pragma once

#include <cstdint>
#include <string>

namespace ax {

// An AT-SPI state set: bit n of the 64-bit word is AtspiStateType n, as GetState reports it in two
// 32-bit halves.
struct AtspiStates {
  uint64_t bits = 0;
  bool has(int state) const { return state >= 0 && state < 64 && ((bits >> state) & 1) != 0; }
};

// "AX" and the AT-SPI role's own name in CamelCase ("AXPushButton"); a role newer than the
// headers we build with -> "AXRole" and its number.
std::string atspiRoleName(int role);

// The AX role name for an AT-SPI role (the numbers of AtspiRole). `parentRole` is the role of the
// object the element was listed under, or -1 when unknown: a menu directly inside a menu bar is a
// menu title, inside a menu it is an item. Roles without an AX counterpart come back as "AX" and
// the AT-SPI role name in CamelCase ("AXFiller"), so debug counts stay readable.
std::string axRoleFor(int role, int parentRole, AtspiStates states);

// Where "AXValue" comes from for an element of that AX role.
enum class ValueSource {
  kNone,     // no value
  kText,     // the Text interface's content
  kChecked,  // 1 or 0 from the CHECKED (or PRESSED) state
  kNumber,   // the Value interface's current value
};
ValueSource valueSourceFor(int role, const std::string& axRole);

// Whether the placeholder text object attribute is worth reading for that AX role.
bool hasPlaceholder(const std::string& axRole);

// An object that is not on screen: toolkits keep closed menus and other notebook pages in the tree
// without the SHOWING state (and at x = y = INT_MIN, 1 x 1). Such an object and its subtree must
// not be reported.
bool isHidden(AtspiStates states);

// Whether the object accepts input (ENABLED, or SENSITIVE for toolkits that only set that one).
bool isEnabled(AtspiStates states);

}  // namespace ax
