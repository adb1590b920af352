// ax-atspi-probe: prints what the AT-SPI backend answers for the frontmost application, one line
// per element of its focused window (indented by depth), with the attributes the snapshot reads.
// A developer's tool for checking the backend on a real desktop; it is not installed.
#include <cstdio>
#include <string>

#include "ax/platform-atspi.h"

namespace {

std::string text(const std::optional<ax::Value>& v) {
  if (!v) return "-";
  switch (v->kind) {
    case ax::Value::Kind::Text:
    case ax::Value::Kind::Url:
      return "\"" + v->text + "\"";
    case ax::Value::Kind::Integer:
      return std::to_string(v->integer);
    case ax::Value::Kind::Real:
      return std::to_string(v->real);
    case ax::Value::Kind::Boolean:
      return v->boolean ? "true" : "false";
    case ax::Value::Kind::AxPoint:
    case ax::Value::Kind::AxSize:
      return std::to_string(static_cast<long>(v->a)) + "," +
             std::to_string(static_cast<long>(v->b));
    case ax::Value::Kind::List:
      return "[" + std::to_string(v->list.size()) + "]";
    default:
      return "?";
  }
}

void walk(ax::Platform& p, const ax::Element& e, const ax::Element& focused, int depth) {
  static const std::vector<std::string> kNames = {
      "AXRole",        "AXPosition",         "AXSize",  "AXChildren", "AXTitle",
      "AXDescription", "AXPlaceholderValue", "AXValue", "AXEnabled"};
  ax::BatchResult r = p.copyMultipleAttributeValues(e, kNames);
  if (r.code != ax::kSuccess || !r.values) {
    std::printf("%*sFAILED %d\n", depth * 2, "", r.code);
    return;
  }
  const auto& v = *r.values;
  std::printf("%*s", depth * 2, "");
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (i == 3) continue;
    std::printf("%s=%s ", kNames[i].c_str() + 2, text(v[i]).c_str());
  }
  if (focused && p.isEqual(focused, e)) std::printf("FOCUSED");
  std::printf("\n");
  if (v[3] && v[3]->kind == ax::Value::Kind::List) {
    for (const ax::Value& c : v[3]->list) {
      if (c.kind == ax::Value::Kind::Element) walk(p, c.element, focused, depth + 1);
    }
  }
}

}  // namespace

int main() {
  ax::AtspiPlatform p;
  if (!p.isProcessTrusted()) {
    std::printf("not trusted: %s\n", p.notTrustedMessage().c_str());
    return 3;
  }
  auto front = p.frontmostApplication();
  if (!front) {
    std::printf("no frontmost application\n");
    return 4;
  }
  std::printf("pid=%d name=%s bundle=%s\n", front->pid, front->name.value_or("-").c_str(),
              front->bundleId.value_or("-").c_str());
  for (const ax::Rect& s : p.screens()) std::printf("screen %g,%g %gx%g\n", s.x, s.y, s.w, s.h);
  ax::Element app = p.createApplicationElement(front->pid);
  p.setMessagingTimeout(app, 0.6f);
  ax::ReadResult focused = p.copyAttributeValue(app, "AXFocusedUIElement");
  ax::ReadResult window = p.copyAttributeValue(app, "AXFocusedWindow");
  if (window.code != ax::kSuccess || !window.value) {
    window = p.copyAttributeValue(app, "AXWindows");
    if (window.code == ax::kSuccess && window.value && !window.value->list.empty()) {
      window.value = window.value->list.front();
    } else {
      std::printf("no window\n");
      return 0;
    }
  }
  std::printf("window title=%s\n",
              text(p.copyAttributeValue(window.value->element, "AXTitle").value).c_str());
  double t0 = p.now();
  walk(p, window.value->element, focused.value ? focused.value->element : nullptr, 0);
  std::printf("walk %.1f ms\n", (p.now() - t0) * 1000);
  return 0;
}
