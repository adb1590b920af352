#include "ax/atspi-attributes.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "ax/atspi-prefetch.h"

namespace ax {
namespace {

using Calls = std::vector<Call>;

ReadResult fail() {
  return ReadResult{kNoValue, std::nullopt};
}
ReadResult ok(Value v) {
  return ReadResult{kSuccess, std::move(v)};
}

ReadResult listOf(const std::vector<Element>& elements) {
  std::vector<Value> list;
  for (const Element& e : elements) list.push_back(Value::ofElement(e));
  return ok(Value::ofList(std::move(list)));
}

// Text with embedded objects (a link inside a paragraph) holds U+FFFC where each object sits;
// the object is listed as a child of its own, and the mark means nothing to a reader.
std::string withoutObjectReplacements(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBF\xBC";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.substr(i, kMark.size()) == kMark) {
      i += kMark.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

// ---- An element's attributes -------------------------------------------------------------------

// A hidden object answers no role the walk keeps, no position, size or children: nothing to ask
// once that is known. While its states are on their way (sent ahead of the walk) only they are
// waited for, so that a hidden element costs one request.
bool statesPending(const Node& n) {
  return n.slots[kGetState].state == Slot::State::kPending;
}
Calls unlessHidden(const Node& n, Calls calls) {
  if (hiddenNode(n)) return {};
  return statesPending(n) ? Calls{kGetState} : calls;
}

ReadResult extents(AttributeContext& c, Node& n, bool position) {
  std::optional<Rect> e = screenExtents(c.active, n);
  if (hiddenNode(n) || !e) return fail();
  if (position) return ok(Value::ofPoint(e->x, e->y));
  return ok(Value::ofSize(e->w, e->h));
}

// Children: a wide element (more than kListedChildren) lists them by index (see Prefetcher).
constexpr int32_t kListedChildren = 64;
Calls childrenCalls(const Node& n) {
  if (hiddenNode(n) || n.done(kGetChildren)) return {};
  if (statesPending(n)) return {kGetState};
  if (n.done(kChildCount)) {
    if (intProperty(n, kChildCount).value_or(0) > kListedChildren) return {kGetState};
    return {kGetChildren, kGetState};
  }
  if (n.failed(kChildCount)) return {kGetChildren, kGetState};
  return {kChildCount, kGetState};
}

ReadResult title(AttributeContext& c, const Node& n) {
  // Static text carries its text as the value, not as a title.
  if (axRoleOf(n) == "AXStaticText") return fail();
  std::optional<std::string> title = stringProperty(n, kName);
  if (title && title->empty() && n.parentRole == ATSPI_ROLE_APPLICATION && n.pid == c.active.pid &&
      !c.active.title.empty()) {
    // GTK leaves a window's accessible name empty; the window manager's title is the one the
    // user sees.
    title = c.active.title;
  }
  return title ? ok(Value::ofText(*title)) : fail();
}

Calls valueCalls(const Node& n) {
  if (!n.done(kGetRole)) return {kGetRole, kGetState};
  switch (valueSourceFor(static_cast<int>(*roleOf(n)), axRoleOf(n))) {
    case ValueSource::kText:
      if (n.failed(kCharacterCount)) return {kName};
      if (!n.done(kCharacterCount)) return {kCharacterCount};
      return characterCount(n).value_or(0) > 0 ? Calls{kGetText} : Calls{};
    case ValueSource::kChecked:
      return {kGetState};
    case ValueSource::kNumber:
      return {kCurrentValue};
    case ValueSource::kNone:
      break;
  }
  return {};
}

ReadResult value(const Node& n) {
  std::optional<uint32_t> role = roleOf(n);
  if (!role) return fail();
  switch (valueSourceFor(static_cast<int>(*role), axRoleOf(n))) {
    case ValueSource::kText: {
      std::optional<int32_t> count = characterCount(n);
      if (!count) {
        // Qt's labels have no Text interface: their text is their name.
        if (axRoleOf(n) != "AXStaticText") return fail();
        std::optional<std::string> name = stringProperty(n, kName);
        return name ? ok(Value::ofText(*name)) : fail();
      }
      if (*count <= 0) return ok(Value::ofText(""));
      GVariant* r = replyOf(n, kGetText);
      if (!r) return fail();
      const char* text = nullptr;
      g_variant_get(r, "(&s)", &text);
      return ok(Value::ofText(withoutObjectReplacements(text)));
    }
    case ValueSource::kChecked: {
      std::optional<AtspiStates> s = statesOf(n);
      if (!s) return fail();
      bool on = s->has(ATSPI_STATE_CHECKED) || s->has(ATSPI_STATE_PRESSED);
      return ok(Value::ofInteger(on ? 1 : 0));
    }
    case ValueSource::kNumber: {
      std::optional<double> v = currentValue(n);
      return v ? ok(Value::ofReal(*v)) : fail();
    }
    case ValueSource::kNone:
      break;
  }
  return fail();
}

// A read the application did not answer (its window list or every window's states failed).
ReadResult unanswered() {
  return ReadResult{kCannotComplete, std::nullopt};
}

ReadResult textOr(std::optional<std::string> text) {
  return text ? ok(Value::ofText(*text)) : fail();
}

const AttributeRule kElementAttributes[] = {
    {attribute::kRole,
     [](const Node& n) {
       // The walk keeps nothing of a hidden element, so its role is not asked for.
       return unlessHidden(n, {kGetRole, kGetState});
     },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       return roleOf(*n) ? ok(Value::ofText(axRoleOf(*n))) : fail();
     }},
    {attribute::kPosition,
     [](const Node& n) {
       return unlessHidden(n, {kGetExtents, kGetState});
     },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) { return extents(c, *n, true); }},
    {attribute::kSize,
     [](const Node& n) {
       return unlessHidden(n, {kGetExtents, kGetState});
     },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) { return extents(c, *n, false); }},
    {attribute::kChildren, childrenCalls,
     [](AttributeContext& c, const std::shared_ptr<Node>& n) {
       // A hidden object's subtree is hidden too; an empty list ends the walk there.
       if (hiddenNode(*n)) return ok(Value::ofList({}));
       const std::vector<Element>* children = c.tree.childrenOf(n);
       if (!children) return fail();
       c.tree.queueChildrenOf(*n);  // the walk goes into them next
       return listOf(*children);
     }},
    {attribute::kTitle,
     [](const Node&) {
       return Calls{kName, kGetRole, kGetState};
     },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) { return title(c, *n); }},
    {attribute::kDescription, [](const Node&) { return Calls{kDescription}; },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       return textOr(stringProperty(*n, kDescription));
     }},
    {attribute::kPlaceholderValue,
     [](const Node& n) {
       if (!n.done(kGetRole)) return Calls{kGetRole, kGetState};
       return hasPlaceholder(axRoleOf(n)) ? Calls{kAttributes} : Calls{};
     },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       return textOr(dictionaryEntry(*n, kAttributes, "placeholder-text"));
     }},
    {attribute::kEnabled, [](const Node&) { return Calls{kGetState}; },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       std::optional<AtspiStates> s = statesOf(*n);
       return s ? ok(Value::ofBoolean(isEnabled(*s))) : fail();
     }},
    {attribute::kValue, valueCalls,
     [](AttributeContext&, const std::shared_ptr<Node>& n) { return value(*n); }},
    {attribute::kURL, [](const Node&) { return Calls{kDocumentAttributes}; },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       std::optional<std::string> url = dictionaryEntry(*n, kDocumentAttributes, "URI");
       if (!url) url = dictionaryEntry(*n, kDocumentAttributes, "DocURL");
       return url ? ok(Value::ofUrl(*url)) : fail();
     }},
};

// ---- An application's attributes --------------------------------------------------------------

// The application's windows. An application busy with a large page can let the first requests
// time out; without them the snapshot would hold no window, which reads like an application
// without one, so they are asked again (within the queue's retry and timeout limits).
const std::vector<Element>* windowList(AttributeContext& c, const std::shared_ptr<Node>& app) {
  const std::vector<Element>* windows = c.tree.childrenOf(app);
  while (!windows && c.queue.again({app}, kGetChildren)) windows = c.tree.childrenOf(app);
  return windows;
}

// The application's windows that are showing (or the first active one, for the focused window).
ReadResult windows(AttributeContext& c, const std::shared_ptr<Node>& app, bool focusedOnly) {
  const std::vector<Element>* windows = windowList(c, app);
  if (!windows) return unanswered();
  std::vector<std::shared_ptr<Node>> nodes = nodesOf(*windows);
  for (const auto& w : nodes) c.queue.issue(w, kGetState);
  for (const auto& w : nodes) c.queue.issue(w, kGetExtents);
  c.queue.await(nodes);
  auto answered = [](const std::shared_ptr<Node>& w) { return statesOf(*w).has_value(); };
  while (std::none_of(nodes.begin(), nodes.end(), answered) && c.queue.again(nodes, kGetState)) {
  }
  if (!nodes.empty() && std::none_of(nodes.begin(), nodes.end(), answered)) return unanswered();
  std::vector<Value> chosen;
  for (size_t i = 0; i < nodes.size(); ++i) {
    std::optional<AtspiStates> s = statesOf(*nodes[i]);
    if (!s || !s->has(focusedOnly ? ATSPI_STATE_ACTIVE : ATSPI_STATE_SHOWING)) continue;
    if (chosen.empty()) {
      calibrateScale(c.active, *nodes[i]);
      fitSurface(c.active, *nodes[i]);
    }
    chosen.push_back(Value::ofElement((*windows)[i]));
    if (focusedOnly) return ok(std::move(chosen.front()));
  }
  if (chosen.empty()) return fail();
  return ok(Value::ofList(std::move(chosen)));
}

const AttributeRule kApplicationAttributes[] = {
    {attribute::kRole, [](const Node&) { return Calls{}; },
     [](AttributeContext&, const std::shared_ptr<Node>&) {
       return ok(Value::ofText("AXApplication"));
     }},
    {attribute::kTitle, [](const Node&) { return Calls{kName}; },
     [](AttributeContext&, const std::shared_ptr<Node>& n) {
       return textOr(stringProperty(*n, kName));
     }},
    {attribute::kFocusedUIElement, [](const Node&) { return Calls{}; },
     [](AttributeContext&, const std::shared_ptr<Node>&) {
       return ok(Value::ofElement(std::make_shared<AtspiElement>(nullptr)));
     }},
    {attribute::kChildren, [](const Node&) { return Calls{kGetChildren}; },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) {
       const std::vector<Element>* windows = windowList(c, n);
       return windows ? listOf(*windows) : fail();
     }},
    {attribute::kWindows, [](const Node&) { return Calls{kGetChildren}; },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) { return windows(c, n, false); }},
    {attribute::kFocusedWindow, [](const Node&) { return Calls{kGetChildren}; },
     [](AttributeContext& c, const std::shared_ptr<Node>& n) { return windows(c, n, true); }},
};

template <size_t N>
const AttributeRule* find(const AttributeRule (&table)[N], const std::string& name) {
  for (const AttributeRule& rule : table) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

const AttributeRule* ruleFor(const Node& node, const std::string& name) {
  return node.application ? find(kApplicationAttributes, name) : find(kElementAttributes, name);
}

// The factor for one element's extents. Chromium started with a device scale factor reports its
// own controls in logical pixels but a page's content in screen pixels already: a web document
// wider than the window once scaled is taken as it is, and so is all it contains.
double scaleOf(const ActiveWindowState& active, Node& n) {
  if (active.scale == 1.0) return 1.0;
  if (n.scale > 0) return n.scale;
  if (roleOf(n) == std::optional<uint32_t>(ATSPI_ROLE_DOCUMENT_WEB)) {
    GVariant* r = replyOf(n, kGetExtents);
    if (!r) return active.scale;
    int32_t x = 0, y = 0, w = 0, h = 0;
    g_variant_get(r, "((iiii))", &x, &y, &w, &h);
    n.scale = w * active.scale > active.width * 1.1 ? 1.0 : active.scale;
    return n.scale;
  }
  std::shared_ptr<Node> parent = n.parent.lock();
  const double f = parent && !parent->application ? scaleOf(active, *parent) : active.scale;
  // Known once an ancestor document has decided, or when there is none (the window's parent is
  // the application).
  if (!parent || parent->application || parent->scale > 0) n.scale = f;
  return f;
}

}  // namespace

// With toolkit scaling (GDK_SCALE=2, QT_SCALE_FACTOR=2) a toolkit reports extents in its own
// logical pixels, while a click lands on root-window pixels. The ratio of the window's X11 width
// to its reported width tells the factor; only whole factors are trusted, as GTK 3 scales only by
// those. Toolkits scale around different points: GTK 3 and Chromium divide root-window positions
// by the factor, Qt divides each monitor's area from that monitor's top-left corner, so that on
// a second monitor logical points start at its corner. The candidate that puts the window's
// reported corner nearest to where its content really starts is the one. GNOME Shell on Wayland
// counts the monitors' own pixels unless fractional scaling is on, so a window on a 2x monitor
// is twice as wide on the screen as its toolkit says: the same ratio, of the surface's widths.
void calibrateScale(ActiveWindowState& active, const Node& window) {
  active.scale = 1.0;
  active.ratio = 0;
  active.scaleCentre = Point{0, 0};
  active.reportedX = active.reportedY = 0;
  if (window.pid != active.pid) return;
  GVariant* r = replyOf(window, kGetExtents);
  if (!r) return;
  int32_t x = 0, y = 0, w = 0, h = 0;
  g_variant_get(r, "((iiii))", &x, &y, &w, &h);
  if (active.surfaceRelative && active.reportsOutputCorner) {
    active.reportedX = x;
    active.reportedY = y;
  }
  if (!active.width) return;
  if (w <= 0) return;
  double ratio = static_cast<double>(active.width) / w;
  active.ratio = ratio;
  double whole = std::round(ratio);
  if (whole < 2 || std::fabs(ratio - whole) >= 0.15) return;
  active.scale = whole;
  auto miss = [&](const Point& c) {
    return std::fabs(c.x + (x - c.x) * whole - active.originX) +
           std::fabs(c.y + (y - c.y) * whole - active.originY);
  };
  for (const Point& corner : active.monitorCorners) {
    if (miss(corner) < miss(active.scaleCentre)) active.scaleCentre = corner;
  }
}

// A toolkit that draws its own title bar and borders on Wayland (Qt under GNOME Shell) reports its
// window without them, and its coordinates start at the content inside. A window reported
// smaller than the compositor's therefore starts inside it: centred across, with the border
// below as wide as those at the sides and the title bar above. Toolkits whose surface carries
// shadows (GTK) report the whole surface, which is at least as large, and keep its origin.
// Sizes are compared on the screen, at the scale calibrateScale found.
void fitSurface(ActiveWindowState& active, const Node& window) {
  if (!active.surfaceRelative || !active.content || window.pid != active.pid) return;
  GVariant* r = replyOf(window, kGetExtents);
  if (!r) return;
  int32_t x = 0, y = 0, w = 0, h = 0;
  g_variant_get(r, "((iiii))", &x, &y, &w, &h);
  const Rect& c = *active.content;
  const double sw = w * active.scale, sh = h * active.scale;
  if (w <= 0 || h <= 0 || sw >= c.w || sh > c.h) return;
  const double side = (c.w - sw) / 2;
  active.originX = c.x + side;
  active.originY = c.y + c.h - sh - side;
}

std::optional<Rect> screenExtents(const ActiveWindowState& active, Node& node) {
  GVariant* r = replyOf(node, kGetExtents);
  if (!r) return std::nullopt;
  int32_t x = 0, y = 0, w = 0, h = 0;
  g_variant_get(r, "((iiii))", &x, &y, &w, &h);
  const double f = scaleOf(active, node);
  if ((node.windowRelative || active.surfaceRelative) && node.pid == active.pid) {
    return Rect{active.originX + (x - active.reportedX) * f,
                active.originY + (y - active.reportedY) * f, w * f, h * f};
  }
  const Point& c = active.scaleCentre;
  return Rect{c.x + (x - c.x) * f, c.y + (y - c.y) * f, w * f, h * f};
}

std::vector<Call> callsFor(const Node& node, const std::string& name) {
  const AttributeRule* rule = ruleFor(node, name);
  return rule ? rule->calls(node) : Calls{};
}

ReadResult valueOf(AttributeContext& context, const std::shared_ptr<Node>& node,
                   const std::string& name) {
  if (const AttributeRule* rule = ruleFor(*node, name)) return rule->value(context, node);
  return node->application ? fail() : ReadResult{kAttributeUnsupported, std::nullopt};
}

}  // namespace ax
