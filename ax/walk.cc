#include "ax/walk.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

#include "ax/text.h"
#include "common/numbers.h"

namespace ax {
namespace {

const std::vector<std::string> kMenuItemAttributes = {attribute::kTitle, attribute::kPosition,
                                                      attribute::kSize, attribute::kChildren};

// One batched read of a text attribute (a visited element's role, a menu-bar title's title), the
// position, the size and the children.
struct FrameRead {
  std::string text;
  std::optional<Point> pos;
  std::optional<Size> size;
  std::optional<Value> children;
};

FrameRead readFrame(Platform& platform, const Element& element,
                    const std::vector<std::string>& names) {
  std::vector<std::optional<Value>> v = multi(platform, element, names);
  return {asString(v[0]), asPoint(v[1]), asSize(v[2]), std::move(v[3])};
}

// The reads a record needs, one batched request.
struct DetailRead {
  std::string title;
  std::string description;
  std::string placeholder;
  std::string value;
  bool enabled = true;
};

DetailRead readDetails(Platform& platform, const Element& element) {
  const std::vector<std::optional<Value>> v = multi(platform, element, kDetailAttributes);
  return {asString(v[0]), asString(v[1]), asString(v[2]), asString(v[3]),
          v[4] && v[4]->kind == Value::Kind::kBoolean ? v[4]->boolean : true};
}

// A record's label and value before clipping: the title, else the description, else the
// placeholder; static text and headings without one show their value as the label.
std::pair<std::string, std::string> labelAndValue(const std::string& shortName,
                                                  const DetailRead& d) {
  std::string label = !d.title.empty() ? d.title : d.description;
  if (label.empty() && !d.placeholder.empty()) label = "placeholder: " + d.placeholder;
  std::string value = d.value;
  if ((shortName == "text" || shortName == "heading") && label.empty()) {
    label = d.value;
    value.clear();
  }
  return {std::move(label), std::move(value)};
}

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
  const Rect& area = state.screen;
  return pos.x + size.w <= area.x || pos.y + size.h <= area.y || area.x + area.w <= pos.x ||
         area.y + area.h <= pos.y;
}

// The last part of a visit: whether the element becomes a record, and the record.
void decideRecord(Platform& platform, RunState& state, const Element& element,
                  const std::string& role, const std::optional<Point>& pos,
                  const std::optional<Size>& size) {
  const auto shortRole = state.roleNames.find(role);
  if (shortRole == state.roleNames.end()) return;
  if (!pos || !size) return;
  if (!(size->w > 1 && size->h > 1)) return;
  ElementRecord record;
  if (!recordGeometry(*pos, *size, record)) return;

  const DetailRead d = readDetails(platform, element);
  const std::string& shortName = shortRole->second;
  auto [label, valueOut] = labelAndValue(shortName, d);
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
  record.disabled = !d.enabled;
  if (state.paths) record.path = currentPath(state);
  state.elements.push_back(std::move(record));
}

}  // namespace

Rect displayArea(const std::vector<Rect>& screens) {
  if (screens.empty()) return Rect{0, 0, 4096, 4096};
  double left = 0, top = 0, right = screens.front().w, bottom = screens.front().h;
  for (size_t i = 1; i < screens.size(); ++i) {
    const Rect& s = screens[i];
    left = std::min(left, s.x);
    top = std::min(top, s.y);
    right = std::max(right, s.x + s.w);
    bottom = std::max(bottom, s.y + s.h);
  }
  return Rect{left, top, right - left, bottom - top};
}

const std::vector<std::string> kBaseAttributes = {attribute::kRole, attribute::kPosition,
                                                  attribute::kSize, attribute::kChildren};
const std::vector<std::string> kDetailAttributes = {attribute::kTitle, attribute::kDescription,
                                                    attribute::kPlaceholderValue, attribute::kValue,
                                                    attribute::kEnabled};

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
  pathIndexes.clear();
  inMenuBar = false;
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

Element Platform::childAt(const Element& parent, size_t index) {
  // The walk's own batched read, so that the list is the one the walk saw.
  const std::vector<std::optional<Value>> read = multi(*this, parent, kBaseAttributes);
  const std::vector<Value>* children = asElementList(read[3]);
  if (!children || index >= children->size()) return nullptr;
  return (*children)[index].element;
}

bool isMissing(const Value& value) {
  return value.kind == Value::Kind::kNull || value.kind == Value::Kind::kAxError;
}

std::string asString(const std::optional<Value>& value) {
  if (!value) return "";
  switch (value->kind) {
    case Value::Kind::kText:
    case Value::Kind::kUrl:
    case Value::Kind::kAttributed:
      return value->text;
    case Value::Kind::kInteger:
      return std::to_string(value->integer);
    case Value::Kind::kReal:
      return mevrik::formatShortest(value->real);
    case Value::Kind::kBoolean:
      return value->boolean ? "1" : "0";
    default:
      return "";
  }
}

std::optional<Point> asPoint(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::kAxPoint) return std::nullopt;
  return Point{value->a, value->b};
}

std::optional<Size> asSize(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::kAxSize) return std::nullopt;
  return Size{value->a, value->b};
}

const std::vector<Value>* asElementList(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::kList) return nullptr;
  for (const Value& entry : value->list) {
    if (entry.kind != Value::Kind::kElement || !entry.element) return nullptr;
  }
  return &value->list;
}

Element asElement(const std::optional<Value>& value) {
  if (!value || value->kind != Value::Kind::kElement) return nullptr;
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

  const FrameRead v = readFrame(platform, element, kBaseAttributes);
  const std::string& role = v.text;
  if (state.debug) {
    ++state.roleCounts[role];
    if (!v.children) ++state.childErrors;
  }
  if (v.pos && v.size && v.size->w > 0 && v.size->h > 0 && offScreen(state, *v.pos, *v.size)) {
    return;
  }

  if (role == "AXWebArea" && !state.url)
    state.url = asString(attr(platform, element, attribute::kURL));

  decideRecord(platform, state, element, role, v.pos, v.size);

  const std::vector<Value>* children = asElementList(v.children);
  if (!children) return;
  if (!state.paths) {
    for (const Value& child : *children) visit(platform, state, child.element, depth + 1);
    return;
  }
  for (size_t k = 0; k < children->size(); ++k) {
    state.pathIndexes.push_back(k);
    visit(platform, state, (*children)[k].element, depth + 1);
    state.pathIndexes.pop_back();
  }
}

void menuBarPass(Platform& platform, RunState& state) {
  const Element bar = asElement(attr(platform, state.app, attribute::kMenuBar));
  if (!bar) return;
  const std::optional<Value> itemsValue = attr(platform, bar, attribute::kChildren);
  const std::vector<Value>* items = asElementList(itemsValue);
  if (!items || items->empty()) return;

  state.inMenuBar = true;
  state.pathIndexes.clear();
  for (size_t n = 0; n < items->size(); ++n) {
    const Value& item = (*items)[n];
    if (recordCount(state) >= state.maxElements) return;
    if (state.paths) state.pathIndexes.assign(1, n);
    const FrameRead v = readFrame(platform, item.element, kMenuItemAttributes);
    const std::string& title = v.text;
    if (!v.pos || !v.size || title.empty() || !(v.size->w >= 1)) continue;
    ElementRecord record;
    // Same rule as for window records: unrepresentable geometry skips the title and its menu.
    if (!recordGeometry(*v.pos, *v.size, record)) continue;
    record.i = recordCount(state) + 1;
    record.role = "menu";
    record.label = menuTitleLabel(title);
    record.disabled = false;
    if (state.paths) record.path = currentPath(state);
    state.elements.push_back(std::move(record));

    const std::vector<Value>* children = asElementList(v.children);
    if (!children) continue;
    for (size_t k = 0; k < children->size(); ++k) {
      if (state.paths) state.pathIndexes.push_back(k);
      visit(platform, state, (*children)[k].element, 1);
      if (state.paths) state.pathIndexes.pop_back();
    }
  }
}

std::string menuTitleLabel(const std::string& title) {
  return clip(title, kMenuTitleClip);
}

RecordText recordText(Platform& platform, const RunState& state, const Element& element,
                      const std::string& rawRole) {
  RecordText out;
  const auto shortRole = state.roleNames.find(rawRole);
  if (shortRole != state.roleNames.end()) out.role = shortRole->second;
  const DetailRead d = readDetails(platform, element);
  auto [label, value] = labelAndValue(out.role, d);
  out.label = clip(label, kLabelClip);
  out.value = clip(value, kValueClip);
  out.disabled = !d.enabled;
  return out;
}

std::string currentPath(const RunState& state) {
  std::string out = state.inMenuBar ? "m" : "";
  for (size_t k = 0; k < state.pathIndexes.size(); ++k) {
    if (k > 0 || state.inMenuBar) out += '.';
    out += std::to_string(state.pathIndexes[k]);
  }
  return out;
}

std::optional<ParsedPath> parsePath(const std::string& text) {
  ParsedPath out;
  std::string_view rest = text;
  if (rest.empty()) return out;  // the window itself
  if (rest.starts_with("m")) {
    out.menuBar = true;
    rest.remove_prefix(1);
    if (!rest.starts_with(".")) return std::nullopt;
    rest.remove_prefix(1);
  }
  // Each part: decimal digits without sign or leading zero, small enough for any list.
  while (true) {
    const size_t end = std::min(rest.find('.'), rest.size());
    const std::string_view part = rest.substr(0, end);
    if (part.empty() || part.size() > 9 || (part.size() > 1 && part[0] == '0')) return std::nullopt;
    size_t index = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      index = index * 10 + static_cast<size_t>(c - '0');
    }
    out.indexes.push_back(index);
    if (end == rest.size()) break;
    rest.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace ax
