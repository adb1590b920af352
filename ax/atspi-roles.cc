#include "ax/atspi-roles.h"

#include <atspi/atspi.h>

#include <cctype>
#include <memory>

namespace ax {
namespace {

// libatspi 2.46 predates the switch role; newer toolkits (GTK 4, at-spi2-core 2.50) report it with
// the number that follows the last role this header knows.
constexpr int kRoleSwitch = ATSPI_ROLE_PUSH_BUTTON_MENU + 1;

struct GFree {
  void operator()(gchar* p) const { g_free(p); }
};

bool isTextRole(int role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT ||
         role == ATSPI_ROLE_EDITBAR;
}

// "push button" -> "AXPushButton"; a role libatspi has no name for -> "AXRole" and its number.
std::string camelCaseName(int role) {
  std::unique_ptr<gchar, GFree> name(role >= 0 && role < ATSPI_ROLE_LAST_DEFINED
                                         ? atspi_role_get_name(static_cast<AtspiRole>(role))
                                         : nullptr);
  if (!name) return "AXRole" + std::to_string(role);
  std::string out = "AX";
  bool upper = true;
  for (const char* c = name.get(); *c; ++c) {
    if (*c == ' ' || *c == '-' || *c == '_') {
      upper = true;
      continue;
    }
    out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
    upper = false;
  }
  return out;
}

}  // namespace

std::string axRoleFor(int role, int parentRole, AtspiStates states) {
  if (isTextRole(role)) {
    return states.has(ATSPI_STATE_MULTI_LINE) ? "AXTextArea" : "AXTextField";
  }
  switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
      return "AXButton";
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
      return "AXMenuButton";
    case ATSPI_ROLE_TOGGLE_BUTTON:
      return "AXToggle";
    case kRoleSwitch:
      return "AXSwitch";
    case ATSPI_ROLE_CHECK_BOX:
      return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
      return "AXRadioButton";
    case ATSPI_ROLE_COMBO_BOX:
      return states.has(ATSPI_STATE_EDITABLE) ? "AXComboBox" : "AXPopUpButton";
    case ATSPI_ROLE_LINK:
      return "AXLink";
    case ATSPI_ROLE_PAGE_TAB:
      return "AXTab";
    case ATSPI_ROLE_MENU_ITEM:
      // Qt lists its menu titles as menu items of the menu bar.
      if (parentRole == ATSPI_ROLE_MENU_BAR) return "AXMenuBarItem";
      return "AXMenuItem";
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
      return "AXMenuItem";
    case ATSPI_ROLE_MENU:
      if (parentRole == ATSPI_ROLE_MENU_BAR) return "AXMenuBarItem";
      if (parentRole == ATSPI_ROLE_MENU || parentRole == ATSPI_ROLE_POPUP_MENU) {
        return "AXMenuItem";
      }
      return "AXMenu";
    case ATSPI_ROLE_SLIDER:
      return "AXSlider";
    case ATSPI_ROLE_SPIN_BUTTON:
      return "AXIncrementor";
    case ATSPI_ROLE_HEADING:
      return "AXHeading";
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_TREE_ITEM:
    // Column and row headers are what users click to sort; they read best as cells of the table.
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
      return "AXCell";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
      return "AXStaticText";
    case ATSPI_ROLE_TERMINAL:
      return "AXTextArea";
    case ATSPI_ROLE_DATE_EDITOR:
      return "AXDateField";
    case ATSPI_ROLE_MENU_BAR:
      return "AXMenuBar";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_WINDOW:
      return "AXWindow";
    case ATSPI_ROLE_DOCUMENT_WEB:
      return "AXWebArea";
    case ATSPI_ROLE_APPLICATION:
      return "AXApplication";
    default:
      return camelCaseName(role);
  }
}

ValueSource valueSourceFor(int role, const std::string& axRole) {
  // A password field's characters are never read: the snapshot goes to an outside program.
  if (role == ATSPI_ROLE_PASSWORD_TEXT) return ValueSource::kNone;
  if (axRole == "AXTextField" || axRole == "AXTextArea" || axRole == "AXStaticText" ||
      axRole == "AXComboBox") {
    return ValueSource::kText;
  }
  if (axRole == "AXCheckBox" || axRole == "AXRadioButton" || axRole == "AXToggle" ||
      axRole == "AXSwitch") {
    return ValueSource::kChecked;
  }
  if (role == ATSPI_ROLE_SLIDER || role == ATSPI_ROLE_SPIN_BUTTON ||
      role == ATSPI_ROLE_PROGRESS_BAR || role == ATSPI_ROLE_SCROLL_BAR ||
      role == ATSPI_ROLE_LEVEL_BAR) {
    return ValueSource::kNumber;
  }
  return ValueSource::kNone;
}

bool hasPlaceholder(const std::string& axRole) {
  return axRole == "AXTextField" || axRole == "AXTextArea" || axRole == "AXComboBox";
}

bool isHidden(AtspiStates states) {
  return !states.has(ATSPI_STATE_SHOWING);
}

bool isEnabled(AtspiStates states) {
  return states.has(ATSPI_STATE_ENABLED) || states.has(ATSPI_STATE_SENSITIVE);
}

}  // namespace ax
