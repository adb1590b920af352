#include "ax/walk.h"

#include <cmath>

#include "ax/text.h"
#include "common/numbers.h"

namespace ax {
namespace {

// The attribute lists of the walk, each read in one batched request (names as the walk's rules
// give them).
const std::vector<std::string> baseAttrs = {"AXRole", "AXPosition", "AXSize", "AXChildren"};
const std::vector<std::string> detailAttrs = {"AXTitle", "AXDescription", "AXPlaceholderValue",
                                              "AXValue", "AXEnabled"};
const std::vector<std::string> menuItemAttrs = {"AXTitle", "AXPosition", "AXSize", "AXChildren"};

constexpr size_t kLabelClip = 100;
constexpr size_t kValueClip = 120;
constexpr size_t kMenuTitleClip = 60;

// Whether a double, with its fraction dropped, fits a signed 64-bit integer. NaN does not.
bool fitsInt64(double d) {
  return d >= -0x1p63 && d < 0x1p63;
}

// A record's four numbers: centre and size, fraction dropped. An element whose numbers are
// infinite, NaN or beyond the 64-bit range gets no record at all (the caller skips it): a clamped
// or zeroed centre would send a click to a point where the element is not.
bool recordGeometry(const Point& pos, const Size& size, ElementRecord& record) {
  const double x = pos.x + size.w * 0.5;
  const double y = pos.y + size.h * 0.5;
  if (!fitsInt64(x) || !fitsInt64(y) || !fitsInt64(size.w) || !fitsInt64(size.h)) return false;
  record.x = static_cast<int64_t>(x);
  record.y = static_cast<int64_t>(y);
  record.w = static_cast<int64_t>(size.w);
  record.h = static_cast<int64_t>(size.h);
  return true;
}

int64_t recordCount(const RunState& state) {
  return static_cast<int64_t>(state.elements.size());
}

bool offScreen(const RunState& state, const Point& pos, const Size& size) {
  return pos.x + size.w <= 0 || pos.y + size.h <= 0 || state.screen.w <= pos.x ||
         state.screen.h <= pos.y;
}

// Step 10 of a visit: whether the element becomes a record, and the record.
void decideRecord(Platform& platform, RunState& state, const Element& element,
                  const std::string& role, const std::optional<Point>& pos,
                  const std::optional<Size>& size) {
  const auto shortRole = state.roleNames.find(role);
  if (shortRole == state.roleNames.end()) return;
  if (!pos || !size) return;
  if (!(size->w > 1 && size->h > 1)) return;
  ElementRecord record;
  if (!recordGeometry(*pos, *size, record)) return;

  const std::vector<std::optional<Value>> d = multi(platform, element, detailAttrs);
  const std::string title = asString(d[0]);
  const std::string description = asString(d[1]);
  const std::string placeholder = asString(d[2]);
  const std::string value = asString(d[3]);
  const bool enabled = d[4] && d[4]->kind == Value::Kind::Boolean ? d[4]->boolean : true;

  std::string label = !title.empty() ? title : description;
  if (label.empty() && !placeholder.empty()) label = "placeholder: " + placeholder;
  std::string valueOut = value;
  const std::string& shortName = shortRole->second;
  if ((shortName == "text" || shortName == "heading") && label.empty()) {
    label = value;
    valueOut.clear();
  }
  if (shortName == "text") {
    if (!label.empty() && state.staticCount < state.maxStaticText) {
      ++state.staticCount;
    } else {
      label.clear();
    }
  }
  if (label.empty() && valueOut.empty()) return;

  const int64_t id = recordCount(state) + 1;
  if (state.focused && platform.isEqual(state.focused, element)) state.focusedIndex = id;
  record.i = id;
  record.role = shortName;
  record.label = clip(label, kLabelClip);
  record.value = clip(valueOut, kValueClip);
  record.disabled = !enabled;
  state.elements.push_back(std::move(record));
}

}  // namespace

std::map<std::string, std::string> makeRoleNames() {
  return {
      {"AXButton", "button"},
      {"AXTextField", "textfield"},
      {"AXTextArea", "textarea"},
      {"AXSearchField", "search"},
      {"AXComboBox", "combobox"},
      {"AXCheckBox", "checkbox"},
      {"AXRadioButton", "radio"},
      {"AXPopUpButton", "popup"},
      {"AXMenuButton", "menubutton"},
      {"AXLink", "link"},
      {"AXTab", "tab"},
      {"AXMenuItem", "menuitem"},
      {"AXSlider", "slider"},
      {"AXDisclosureTriangle", "disclosure"},
      {"AXHeading", "heading"},
      {"AXCell", "cell"},
      {"AXIncrementor", "stepper"},
      {"AXDateField", "datefield"},
      {"AXTimeField", "timefield"},
      {"AXMenuBarItem", "menu"},
      {"AXStaticText", "text"},
      {"AXToggle", "toggle"},
      {"AXSwitch", "switch"},
  };
}

void RunState::resetWalk() {
  roleCounts.clear();
  childErrors = 0;
  elements.clear();
  staticCount = 0;
  visited = 0;
  truncated = false;
  url.reset();
  focusedIndex.reset();
}

std::optional<Value> attr(Platform& platform, const Element& element, const std::string& name) {
  ReadResult result = platform.copyAttributeValue(element, name);
  if (result.code != kSuccess) return std::nullopt;
  return std::move(result.value);
}

std::vector<std::optional<Value>> multi(Platform& platform, const Element& element,
                                        const std::vector<std::string>& names) {
  std::vector<std::optional<Value>> out(names.size());
  BatchResult result = platform.copyMultipleAttributeValues(element, names);
  if (result.code != kSuccess || !result.values || result.values->size() != names.size()) {
    return out;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    std::optional<Value>& entry = (*result.values)[i];
    if (entry && !isMissing(*entry)) out[i] = std::move(entry);
  }
  return out;
}

bool isMissing(const Value& value) {
  return value.kind == Value::Kind::Null || value.kind == Value::Kind::AxError;
}

std::string asString(const std::optional<Value>& value) {
  if (!value) return "";
  switch (value->kind) {
    case Value::Kind::Text:
    case Value::Kind::Url:
    case Value::Kind::Attributed:
      return value->text;
    case Value::Kind::Integer:
      return std::to_string(value->integer);
    case Value::Kind::Real:
      return mevrik::formatShortest(value->real);
    case Value::Kind::Boolean:
      return value->boolean ? "1" : "0";
    default:
      return "";
  }
}

std::optional<Point> asPoint(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::AxPoint) return std::nullopt;
  return Point{value->a, value->b};
}

std::optional<Size> asSize(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::AxSize) return std::nullopt;
  return Size{value->a, value->b};
}

const std::vector<Value>* asElementList(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::List) return nullptr;
  for (const Value& entry : value->list) {
    if (entry.kind != Value::Kind::Element || !entry.element) return nullptr;
  }
  return &value->list;
}

Element asElement(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::Element) return nullptr;
  return value->element;
}

void visit(Platform& platform, RunState& state, const Element& element, int64_t depth) {
  // The limit tests come before any request to the application, so a stopped walk costs nothing.
  if (state.truncated) return;
  ++state.visited;
  if (state.visited > state.maxVisited || depth > state.maxDepth) {
    state.truncated = true;
    return;
  }
  if (recordCount(state) >= state.maxElements) {
    state.truncated = true;
    return;
  }
  // A NaN budget never fires; a time of exactly the budget is still within it.
  if (platform.now() - state.tStart > state.timeBudget) {
    state.truncated = true;
    return;
  }

  const std::vector<std::optional<Value>> v = multi(platform, element, baseAttrs);
  const std::string role = asString(v[0]);
  if (state.debug) {
    ++state.roleCounts[role];
    if (!v[3]) ++state.childErrors;
  }
  const std::optional<Point> pos = asPoint(v[1]);
  const std::optional<Size> size = asSize(v[2]);

  if (pos && size && size->w > 0 && size->h > 0 && offScreen(state, *pos, *size)) return;

  if (role == "AXWebArea" && !state.url) {
    state.url = asString(attr(platform, element, "AXURL"));
  }

  decideRecord(platform, state, element, role, pos, size);

  const std::vector<Value>* children = asElementList(v[3]);
  if (!children) return;
  for (const Value& child : *children) visit(platform, state, child.element, depth + 1);
}

void menuBarPass(Platform& platform, RunState& state) {
  const Element bar = asElement(attr(platform, state.app, "AXMenuBar"));
  if (!bar) return;
  const std::optional<Value> itemsValue = attr(platform, bar, "AXChildren");
  const std::vector<Value>* items = asElementList(itemsValue);
  if (!items || items->empty()) return;

  for (const Value& item : *items) {
    if (recordCount(state) >= state.maxElements) return;
    const std::vector<std::optional<Value>> v = multi(platform, item.element, menuItemAttrs);
    const std::string title = asString(v[0]);
    const std::optional<Point> pos = asPoint(v[1]);
    const std::optional<Size> size = asSize(v[2]);
    if (!pos || !size || title.empty() || !(size->w >= 1)) continue;
    ElementRecord record;
    // Same rule as for window records: unrepresentable geometry skips the title and its menu.
    if (!recordGeometry(*pos, *size, record)) continue;
    record.i = recordCount(state) + 1;
    record.role = "menu";
    record.label = clip(title, kMenuTitleClip);
    record.disabled = false;
    state.elements.push_back(std::move(record));

    const std::vector<Value>* children = asElementList(v[3]);
    if (!children) continue;
    for (const Value& child : *children) visit(platform, state, child.element, 1);
  }
}

}  // namespace ax
