#include "ax/atspi-roles.h"

#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <cctype>

namespace ax {
namespace {

AtspiStates with(std::initializer_list<int> states) {
  AtspiStates s;
  for (int st : states) s.bits |= uint64_t{1} << st;
  return s;
}

// The table of role names must say what libatspi's own names say, for every role it knows.
TEST(AtspiRoles, RoleNamesMatchLibatspi) {
  for (int role = 0; role < ATSPI_ROLE_LAST_DEFINED; ++role) {
    gchar* raw = atspi_role_get_name(static_cast<AtspiRole>(role));
    ASSERT_NE(raw, nullptr) << role;
    std::string expected = "AX";
    bool upper = true;
    for (const char* c = raw; *c; ++c) {
      if (*c == ' ' || *c == '-' || *c == '_') {
        upper = true;
        continue;
      }
      expected += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    }
    g_free(raw);
    EXPECT_EQ(atspiRoleName(role), expected) << role;
  }
  EXPECT_EQ(atspiRoleName(ATSPI_ROLE_LAST_DEFINED + 5),
            "AXRole" + std::to_string(ATSPI_ROLE_LAST_DEFINED + 5));
  EXPECT_EQ(atspiRoleName(-1), "AXRole-1");
}

TEST(AtspiRoles, RolesStatesAndParentsGiveTheCoreRole) {
  struct Case {
    int role;
    int parent;
    AtspiStates states;
    const char* expected;
  };
  const Case cases[] = {
      {ATSPI_ROLE_PUSH_BUTTON, -1, {}, "AXButton"},
      {ATSPI_ROLE_TOGGLE_BUTTON, -1, {}, "AXToggle"},
      {ATSPI_ROLE_PUSH_BUTTON_MENU + 1, -1, {}, "AXSwitch"},
      {ATSPI_ROLE_CHECK_BOX, -1, {}, "AXCheckBox"},
      {ATSPI_ROLE_RADIO_BUTTON, -1, {}, "AXRadioButton"},
      {ATSPI_ROLE_LINK, -1, {}, "AXLink"},
      {ATSPI_ROLE_PAGE_TAB, -1, {}, "AXTab"},
      {ATSPI_ROLE_SLIDER, -1, {}, "AXSlider"},
      {ATSPI_ROLE_SPIN_BUTTON, -1, {}, "AXIncrementor"},
      {ATSPI_ROLE_HEADING, -1, {}, "AXHeading"},
      {ATSPI_ROLE_TREE_ITEM, -1, {}, "AXCell"},
      {ATSPI_ROLE_TABLE_COLUMN_HEADER, -1, {}, "AXCell"},
      {ATSPI_ROLE_LABEL, -1, {}, "AXStaticText"},
      // Chromium lists a paragraph's text as static children already.
      {ATSPI_ROLE_PARAGRAPH, -1, {}, "AXParagraph"},
      {ATSPI_ROLE_DATE_EDITOR, -1, {}, "AXDateField"},
      {ATSPI_ROLE_DIALOG, -1, {}, "AXWindow"},
      {ATSPI_ROLE_DOCUMENT_WEB, -1, {}, "AXWebArea"},
      {ATSPI_ROLE_PUSH_BUTTON_MENU, -1, {}, "AXMenuButton"},
      {ATSPI_ROLE_TEXT, -1, {}, "AXTextField"},
      {ATSPI_ROLE_ENTRY, -1, with({ATSPI_STATE_MULTI_LINE}), "AXTextArea"},
      {ATSPI_ROLE_PASSWORD_TEXT, -1, {}, "AXTextField"},
      {ATSPI_ROLE_COMBO_BOX, -1, {}, "AXPopUpButton"},
      {ATSPI_ROLE_COMBO_BOX, -1, with({ATSPI_STATE_EDITABLE}), "AXComboBox"},
      {ATSPI_ROLE_MENU, ATSPI_ROLE_MENU_BAR, {}, "AXMenuBarItem"},
      {ATSPI_ROLE_MENU, ATSPI_ROLE_MENU, {}, "AXMenuItem"},
      {ATSPI_ROLE_MENU, ATSPI_ROLE_COMBO_BOX, {}, "AXMenu"},
      {ATSPI_ROLE_MENU_ITEM, ATSPI_ROLE_MENU_BAR, {}, "AXMenuBarItem"},
      {ATSPI_ROLE_MENU_ITEM, ATSPI_ROLE_MENU, {}, "AXMenuItem"},
      // Roles without a counterpart keep a readable name.
      {ATSPI_ROLE_FILLER, -1, {}, "AXFiller"},
      {ATSPI_ROLE_SCROLL_PANE, -1, {}, "AXScrollPane"},
      {ATSPI_ROLE_PAGE_TAB_LIST, -1, {}, "AXPageTabList"},
      {4000, -1, {}, "AXRole4000"},
      {-7, -1, {}, "AXRole-7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(axRoleFor(c.role, c.parent, c.states), c.expected) << c.role << " in " << c.parent;
  }
}

TEST(AtspiRoles, TheRoleDecidesWhereTheValueComesFrom) {
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_TEXT, "AXTextField"), ValueSource::kText);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_LABEL, "AXStaticText"), ValueSource::kText);
  // A password's characters never leave the application.
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_PASSWORD_TEXT, "AXTextField"), ValueSource::kNone);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_CHECK_BOX, "AXCheckBox"), ValueSource::kChecked);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_TOGGLE_BUTTON, "AXToggle"), ValueSource::kChecked);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_SLIDER, "AXSlider"), ValueSource::kNumber);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"), ValueSource::kNumber);
  EXPECT_EQ(valueSourceFor(ATSPI_ROLE_PUSH_BUTTON, "AXButton"), ValueSource::kNone);
  EXPECT_TRUE(hasPlaceholder("AXTextField"));
  EXPECT_FALSE(hasPlaceholder("AXButton"));
}

TEST(AtspiRoles, StatesDecideHiddenAndEnabled) {
  EXPECT_TRUE(isHidden({}));
  EXPECT_TRUE(isHidden(with({ATSPI_STATE_VISIBLE})));
  EXPECT_FALSE(isHidden(with({ATSPI_STATE_SHOWING})));
  // The upper word of GetState's answer holds states from 32 on.
  EXPECT_TRUE(with({ATSPI_STATE_LAST_DEFINED - 1}).has(ATSPI_STATE_LAST_DEFINED - 1));
  EXPECT_FALSE(isEnabled({}));
  EXPECT_TRUE(isEnabled(with({ATSPI_STATE_ENABLED})));
  EXPECT_TRUE(isEnabled(with({ATSPI_STATE_SENSITIVE})));
}

}  // namespace
}  // namespace ax
