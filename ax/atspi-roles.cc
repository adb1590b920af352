#include "ax/atspi-roles.h"

#include <atspi/atspi-constants.h>

#include <iterator>

namespace ax {
namespace {

// libatspi 2.46 predates the switch role; newer toolkits (GTK 4, at-spi2-core 2.50) report it with
// the number that follows the last role this header knows.
constexpr int kRoleSwitch = ATSPI_ROLE_PUSH_BUTTON_MENU + 1;

bool isTextRole(int role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT ||
         role == ATSPI_ROLE_EDITBAR;
}

// Every role this header defines with its name in CamelCase ("push button" -> "AXPushButton"),
// as libatspi's role names give it. A table of our own rather than libatspi's name lookup: the
// lookup is the only thing vantic-ax would need the library for, and loading it (with libdbus,
// libsystemd and theirs) was a noticeable part of every run's start.
struct RoleName {
  int role;
  const char* name;
};
constexpr RoleName kRoleNames[] = {
    {ATSPI_ROLE_INVALID, "AXInvalid"},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXAcceleratorLabel"},
    {ATSPI_ROLE_ALERT, "AXAlert"},
    {ATSPI_ROLE_ANIMATION, "AXAnimation"},
    {ATSPI_ROLE_ARROW, "AXArrow"},
    {ATSPI_ROLE_CALENDAR, "AXCalendar"},
    {ATSPI_ROLE_CANVAS, "AXCanvas"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXCheckMenuItem"},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXColorChooser"},
    {ATSPI_ROLE_COLUMN_HEADER, "AXColumnHeader"},
    {ATSPI_ROLE_COMBO_BOX, "AXComboBox"},
    {ATSPI_ROLE_DATE_EDITOR, "AXDateEditor"},
    {ATSPI_ROLE_DESKTOP_ICON, "AXDesktopIcon"},
    {ATSPI_ROLE_DESKTOP_FRAME, "AXDesktopFrame"},
    {ATSPI_ROLE_DIAL, "AXDial"},
    {ATSPI_ROLE_DIALOG, "AXDialog"},
    {ATSPI_ROLE_DIRECTORY_PANE, "AXDirectoryPane"},
    {ATSPI_ROLE_DRAWING_AREA, "AXDrawingArea"},
    {ATSPI_ROLE_FILE_CHOOSER, "AXFileChooser"},
    {ATSPI_ROLE_FILLER, "AXFiller"},
    {ATSPI_ROLE_FOCUS_TRAVERSABLE, "AXFocusTraversable"},
    {ATSPI_ROLE_FONT_CHOOSER, "AXFontChooser"},
    {ATSPI_ROLE_FRAME, "AXFrame"},
    {ATSPI_ROLE_GLASS_PANE, "AXGlassPane"},
    {ATSPI_ROLE_HTML_CONTAINER, "AXHtmlContainer"},
    {ATSPI_ROLE_ICON, "AXIcon"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_INTERNAL_FRAME, "AXInternalFrame"},
    {ATSPI_ROLE_LABEL, "AXLabel"},
    {ATSPI_ROLE_LAYERED_PANE, "AXLayeredPane"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_ITEM, "AXListItem"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_OPTION_PANE, "AXOptionPane"},
    {ATSPI_ROLE_PAGE_TAB, "AXPageTab"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXPageTabList"},
    {ATSPI_ROLE_PANEL, "AXPanel"},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXPasswordText"},
    {ATSPI_ROLE_POPUP_MENU, "AXPopupMenu"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressBar"},
    {ATSPI_ROLE_PUSH_BUTTON, "AXPushButton"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXRadioMenuItem"},
    {ATSPI_ROLE_ROOT_PANE, "AXRootPane"},
    {ATSPI_ROLE_ROW_HEADER, "AXRowHeader"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollPane"},
    {ATSPI_ROLE_SEPARATOR, "AXSeparator"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXSpinButton"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitPane"},
    {ATSPI_ROLE_STATUS_BAR, "AXStatusBar"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TABLE_CELL, "AXTableCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXTableColumnHeader"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXTableRowHeader"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXTearoffMenuItem"},
    {ATSPI_ROLE_TERMINAL, "AXTerminal"},
    {ATSPI_ROLE_TEXT, "AXText"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXToggleButton"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolBar"},
    {ATSPI_ROLE_TOOL_TIP, "AXToolTip"},
    {ATSPI_ROLE_TREE, "AXTree"},
    {ATSPI_ROLE_TREE_TABLE, "AXTreeTable"},
    {ATSPI_ROLE_UNKNOWN, "AXUnknown"},
    {ATSPI_ROLE_VIEWPORT, "AXViewport"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_EXTENDED, "AXExtended"},
    {ATSPI_ROLE_HEADER, "AXHeader"},
    {ATSPI_ROLE_FOOTER, "AXFooter"},
    {ATSPI_ROLE_PARAGRAPH, "AXParagraph"},
    {ATSPI_ROLE_RULER, "AXRuler"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_AUTOCOMPLETE, "AXAutocomplete"},
    {ATSPI_ROLE_EDITBAR, "AXEditbar"},
    {ATSPI_ROLE_EMBEDDED, "AXEmbedded"},
    {ATSPI_ROLE_ENTRY, "AXEntry"},
    {ATSPI_ROLE_CHART, "AXChart"},
    {ATSPI_ROLE_CAPTION, "AXCaption"},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXDocumentFrame"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_PAGE, "AXPage"},
    {ATSPI_ROLE_SECTION, "AXSection"},
    {ATSPI_ROLE_REDUNDANT_OBJECT, "AXRedundantObject"},
    {ATSPI_ROLE_FORM, "AXForm"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_INPUT_METHOD_WINDOW, "AXInputMethodWindow"},
    {ATSPI_ROLE_TABLE_ROW, "AXTableRow"},
    {ATSPI_ROLE_TREE_ITEM, "AXTreeItem"},
    {ATSPI_ROLE_DOCUMENT_SPREADSHEET, "AXDocumentSpreadsheet"},
    {ATSPI_ROLE_DOCUMENT_PRESENTATION, "AXDocumentPresentation"},
    {ATSPI_ROLE_DOCUMENT_TEXT, "AXDocumentText"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXDocumentWeb"},
    {ATSPI_ROLE_DOCUMENT_EMAIL, "AXDocumentEmail"},
    {ATSPI_ROLE_COMMENT, "AXComment"},
    {ATSPI_ROLE_LIST_BOX, "AXListBox"},
    {ATSPI_ROLE_GROUPING, "AXGrouping"},
    {ATSPI_ROLE_IMAGE_MAP, "AXImageMap"},
    {ATSPI_ROLE_NOTIFICATION, "AXNotification"},
    {ATSPI_ROLE_INFO_BAR, "AXInfoBar"},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelBar"},
    {ATSPI_ROLE_TITLE_BAR, "AXTitleBar"},
    {ATSPI_ROLE_BLOCK_QUOTE, "AXBlockQuote"},
    {ATSPI_ROLE_AUDIO, "AXAudio"},
    {ATSPI_ROLE_VIDEO, "AXVideo"},
    {ATSPI_ROLE_DEFINITION, "AXDefinition"},
    {ATSPI_ROLE_ARTICLE, "AXArticle"},
    {ATSPI_ROLE_LANDMARK, "AXLandmark"},
    {ATSPI_ROLE_LOG, "AXLog"},
    {ATSPI_ROLE_MARQUEE, "AXMarquee"},
    {ATSPI_ROLE_MATH, "AXMath"},
    {ATSPI_ROLE_RATING, "AXRating"},
    {ATSPI_ROLE_TIMER, "AXTimer"},
    {ATSPI_ROLE_STATIC, "AXStatic"},
    {ATSPI_ROLE_MATH_FRACTION, "AXMathFraction"},
    {ATSPI_ROLE_MATH_ROOT, "AXMathRoot"},
    {ATSPI_ROLE_SUBSCRIPT, "AXSubscript"},
    {ATSPI_ROLE_SUPERSCRIPT, "AXSuperscript"},
    {ATSPI_ROLE_DESCRIPTION_LIST, "AXDescriptionList"},
    {ATSPI_ROLE_DESCRIPTION_TERM, "AXDescriptionTerm"},
    {ATSPI_ROLE_DESCRIPTION_VALUE, "AXDescriptionValue"},
    {ATSPI_ROLE_FOOTNOTE, "AXFootnote"},
    {ATSPI_ROLE_CONTENT_DELETION, "AXContentDeletion"},
    {ATSPI_ROLE_CONTENT_INSERTION, "AXContentInsertion"},
    {ATSPI_ROLE_MARK, "AXMark"},
    {ATSPI_ROLE_SUGGESTION, "AXSuggestion"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXPushButtonMenu"},
};
static_assert(std::size(kRoleNames) == ATSPI_ROLE_LAST_DEFINED);

constexpr bool indexedByRole() {
  for (size_t i = 0; i < std::size(kRoleNames); ++i) {
    if (kRoleNames[i].role != static_cast<int>(i)) return false;
  }
  return true;
}
static_assert(indexedByRole());

}  // namespace

std::string atspiRoleName(int role) {
  if (role < 0 || role >= static_cast<int>(std::size(kRoleNames))) {
    return "AXRole" + std::to_string(role);
  }
  return kRoleNames[role].name;
}

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
      return atspiRoleName(role);
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
