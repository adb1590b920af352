#include "mcp/tools.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "common/exit_status.h"
#include "common/numbers.h"
#include "mcp/base64.h"
#include "mcp/report_line.h"

namespace mcp {
namespace {

namespace status = mevrik::exit_status;

// How long a child may run beyond its own time budget before it is asked to stop: the time to
// start it and for it to connect to the desktop.
constexpr double kMargin = 5;
constexpr double kDefaultBudget = 0.5;

// Screen coordinates beyond this are no screen's (the screenshot tool's own limit).
constexpr double kLargestCoordinate = 1 << 20;

// How long typing may take: a key burst takes microseconds, but applications that lag make the
// run wait for them (up to two seconds for each batch of characters missing from the keyboard
// map), so the budget grows with the number of characters or chords.
double typingBudget(size_t strokes) {
  return 10 + static_cast<double>(strokes) / 10 + kMargin;
}

std::string trimmed(const std::string& text) {
  const size_t end = text.find_last_not_of(" \t\r\n");
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string number(double value) {
  return mevrik::formatShortest(value);
}

// What the agent reads when a tool ended in a way it does not describe itself.
Json failure(const std::string& program, const ChildResult& child) {
  std::string text =
      program + (child.signal != 0 ? " was ended by signal " + std::to_string(child.signal)
                                   : " failed with status " + std::to_string(child.status));
  const std::string said = trimmed(child.err.empty() ? child.out : child.err);
  if (!said.empty()) text += ": " + said;
  return textResult(text, true);
}

// The tool's one JSON line as an object, or nothing.
std::optional<Json> jsonLine(const std::string& out) {
  Json parsed = Json::parse(out, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return parsed;
}

std::string errorText(const std::string& out) {
  if (auto line = jsonLine(out); line && line->contains("error") && (*line)["error"].is_string()) {
    return (*line)["error"].get<std::string>();
  }
  return trimmed(out);
}

std::optional<double> optionalNumber(const Json& arguments, const char* name) {
  if (!arguments.contains(name)) return std::nullopt;
  return arguments[name].get<double>();
}

Json numberProperty(const char* description, double minimum, double maximum) {
  return {
      {"type", "number"}, {"minimum", minimum}, {"maximum", maximum}, {"description", description}};
}

Json coordinate(const char* description) {
  return numberProperty(description, -kLargestCoordinate, kLargestCoordinate);
}

Json side(const char* description) {
  return {{"type", "number"},
          {"exclusiveMinimum", 0},
          {"maximum", kLargestCoordinate},
          {"description", description}};
}

Json integerProperty(const char* description, int64_t minimum, int64_t maximum) {
  return {{"type", "integer"},
          {"minimum", minimum},
          {"maximum", maximum},
          {"description", description}};
}

// The annotations of a tool that changes nothing outside the desktop.
Json desktopAnnotations(const char* title, bool readOnly) {
  return {{"title", title},
          {"readOnlyHint", readOnly},
          {"destructiveHint", !readOnly},
          {"idempotentHint", readOnly},
          {"openWorldHint", false}};
}

Tool snapshotTool() {
  Tool tool;
  tool.name = "snapshot";
  tool.program = "vantic-ax";
  tool.description =
      "Read the frontmost application's interface: a numbered list of its elements (role, label, "
      "value, centre x/y in screen points, size, disabled). Pass an element's x and y to click.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"budget",
         {{"type", "number"},
          {"exclusiveMinimum", 0},
          {"maximum", 30},
          {"description", "Seconds the walk may take (default 0.5, at most 30)."}}},
        {"max_elements", integerProperty("Most records to list (default 300).", 1, 100000)},
        {"settle", numberProperty("Seconds to wait before reading, for an interface that is "
                                  "still changing (default 0, at most 5).",
                                  0, 5)}}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Snapshot of the frontmost application", true);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    Invocation call;
    const double budget = optionalNumber(arguments, "budget").value_or(kDefaultBudget);
    const double settle = optionalNumber(arguments, "settle").value_or(0);
    if (arguments.contains("budget")) call.args = {"--budget", number(budget)};
    if (arguments.contains("settle")) {
      call.args.insert(call.args.end(), {"--settle", number(settle)});
    }
    if (arguments.contains("max_elements")) {
      call.args.insert(call.args.end(), {"--max-elements",
                                         std::to_string(arguments["max_elements"].get<int64_t>())});
    }
    call.budgetSeconds = budget + settle + kMargin;
    return call;
  };
  tool.result = [](const ChildResult& child, const Invocation&) {
    if (child.status == status::ax::kOk) {
      // The document goes into structuredContent as it is, checked but not rebuilt: parsing
      // and printing a large snapshot again was most of the server's time per call.
      const std::string line = trimmed(child.out);
      if (!line.empty() && line.front() == '{' && line.find('\n') == std::string::npos &&
          Json::accept(line)) {
        Json result = textResult(line, false);
        result[kRawStructuredContent] = line;
        return result;
      }
    }
    if (child.status == status::ax::kNotTrusted) {
      return textResult(errorText(child.out) +
                            "\nWhat to do: call request_access (or open Mevrik and turn on "
                            "accessibility), restart the application, then snapshot again.",
                        true);
    }
    if (child.status == status::ax::kNoFrontmost) {
      return textResult(errorText(child.out) +
                            "\nWhat to do: bring an application window to the front (open it or "
                            "click it), then snapshot again.",
                        true);
    }
    return failure("vantic-ax", child);
  };
  return tool;
}

Tool clickTool() {
  Tool tool;
  tool.name = "click";
  tool.program = "vantic-click";
  tool.description =
      "Perform one pointer action at a screen point (usually a snapshot element's x and y): "
      "left (default), right, middle, double, triple, move, drag (to to_x, to_y) or scroll "
      "(by dx, dy lines). The real cursor is put back afterwards, except for move.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"x", coordinate("Screen x in points.")},
        {"y", coordinate("Screen y in points.")},
        {"action",
         {{"type", "string"},
          {"enum", {"left", "right", "middle", "double", "triple", "move", "drag", "scroll"}},
          {"description", "The action (default left)."}}},
        {"to_x", coordinate("Drag end x (drag only).")},
        {"to_y", coordinate("Drag end y (drag only).")},
        {"dx", integerProperty("Horizontal scroll lines (scroll only).", -10000, 10000)},
        {"dy", integerProperty("Vertical scroll lines (scroll only).", -10000, 10000)}}},
      {"required", {"x", "y"}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Pointer action", false);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    const std::string action = arguments.value("action", std::string("left"));
    const bool drag = action == "drag";
    const bool scroll = action == "scroll";
    for (const char* name : {"to_x", "to_y"}) {
      if (arguments.contains(name) != drag) {
        return ArgumentError{
            false, std::string(name) + (drag ? " is needed for drag" : " is only for drag")};
      }
    }
    for (const char* name : {"dx", "dy"}) {
      if (arguments.contains(name) && !scroll) {
        return ArgumentError{false, std::string(name) + " is only for scroll"};
      }
    }
    Invocation call;
    call.args = {number(arguments["x"].get<double>()), number(arguments["y"].get<double>()),
                 action};
    if (drag) {
      call.args.push_back(number(arguments["to_x"].get<double>()));
      call.args.push_back(number(arguments["to_y"].get<double>()));
    }
    if (scroll) {
      if (!arguments.contains("dx") && !arguments.contains("dy")) {
        return ArgumentError{false, "scroll needs dx or dy"};
      }
      for (const char* name : {"dx", "dy"}) {
        call.args.push_back(std::to_string(arguments.value(name, int64_t{0})));
      }
    }
    call.budgetSeconds = 1 + kMargin;  // the longest action (a drag) takes well under a second
    return call;
  };
  tool.result = [](const ChildResult& child, const Invocation&) {
    if (child.status == status::click::kOk) return textResult(trimmed(child.out), false);
    return failure("vantic-click", child);
  };
  return tool;
}

Tool requestAccessTool() {
  Tool tool;
  tool.name = "request_access";
  tool.program = "vantic-ax";
  tool.description =
      "Ask the desktop to turn on accessibility (needed by snapshot) and say whether access is "
      "now granted. Applications started before must be restarted to be seen.";
  tool.inputSchema = {
      {"type", "object"}, {"properties", Json::object()}, {"additionalProperties", false}};
  tool.annotations = {{"title", "Request accessibility access"},
                      {"readOnlyHint", false},
                      {"destructiveHint", false},
                      {"idempotentHint", true},
                      {"openWorldHint", false}};
  tool.invocation = [](const Json&, const NewFile&) -> std::variant<Invocation, ArgumentError> {
    return Invocation{{"--prompt"}, kDefaultBudget + kMargin, {}};
  };
  tool.result = [](const ChildResult& child, const Invocation&) {
    const std::optional<Json> line = jsonLine(child.out);
    const bool answered = line && line->contains("trusted") && (*line)["trusted"].is_boolean();
    if (!answered || (child.status != status::ax::kOk && child.status != status::ax::kNotTrusted))
      return failure("vantic-ax", child);
    const bool trusted = (*line)["trusted"].get<bool>();
    return textResult(trusted ? "Accessibility access is granted."
                              : "Accessibility access is not granted yet. It has been requested; "
                                "turn it on in the desktop's settings if asked, then restart the "
                                "application and snapshot.",
                      false, Json{{"trusted", trusted}});
  };
  return tool;
}

Json typeResult(const ChildResult& child, const Invocation&) {
  if (child.status == status::type::kOk) return textResult(trimmed(child.out), false);
  return failure("vantic-type", child);
}

Tool typeTextTool() {
  Tool tool;
  tool.name = "type_text";
  tool.program = "vantic-type";
  tool.description =
      "Type text into the focused element of the frontmost application, as a keyboard would: any "
      "Unicode (Japanese, emoji, accents); a line feed presses Return and a tab presses Tab. "
      "Click a text field first to focus it.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"text",
         {{"type", "string"},
          {"maxLength", kMaxTextCharacters},
          {"description", "The text (at most 16384 characters; split longer text)."}}}}},
      {"required", {"text"}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Type text", false);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    const std::string text = arguments["text"].get<std::string>();
    return Invocation{{"text", text}, typingBudget(characterCount(text)), {}};
  };
  tool.result = typeResult;
  return tool;
}

Tool pressKeysTool() {
  Tool tool;
  tool.name = "press_keys";
  tool.program = "vantic-type";
  tool.description =
      "Press key chords in order in the frontmost application, such as [\"ctrl+a\", "
      "\"BackSpace\"], [\"Return\"], [\"shift+Tab\"], [\"ctrl+l\"]. A chord is modifiers "
      "(ctrl, shift, alt, super) joined by + to one key: an X keysym name (Return, Escape, Tab, "
      "BackSpace, Delete, Up, Down, Left, Right, Home, End, Page_Up, F1...) or one character. "
      "An upper-case letter means Shift with that letter.";
  tool.inputSchema = {{"type", "object"},
                      {"properties",
                       {{"keys",
                         {{"type", "array"},
                          {"items", {{"type", "string"}, {"maxLength", kMaxChordCharacters}}},
                          {"minItems", 1},
                          {"maxItems", kMaxChords},
                          {"description", "The chords, pressed one after the other."}}}}},
                      {"required", {"keys"}},
                      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Press keys", false);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    Invocation call{{"key"}, typingBudget(arguments["keys"].size()), {}};
    for (const Json& chord : arguments["keys"]) call.args.push_back(chord.get<std::string>());
    return call;
  };
  tool.result = typeResult;
  return tool;
}

Tool screenshotTool() {
  Tool tool;
  tool.name = "screenshot";
  tool.program = "vantic-shot";
  tool.description =
      "Look at the screen: a PNG of the frontmost window, or of a region in screen points. Use it "
      "when the snapshot does not show what is needed (a canvas, a game, a window without an "
      "accessibility tree). The answer gives the region's origin x, y and the scale: the image "
      "point (u, v) is the screen point (x + u / scale, y + v / scale), which click takes.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"region",
         {{"type", "object"},
          {"properties",
           {{"x", coordinate("Left edge.")},
            {"y", coordinate("Top edge.")},
            {"width", side("Width.")},
            {"height", side("Height.")}}},
          {"required", {"x", "y", "width", "height"}},
          {"additionalProperties", false},
          {"description", "A screen rectangle in points (default: the frontmost window)."}}}}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Screenshot", true);
  tool.invocation = [](const Json& arguments,
                       const NewFile& newFile) -> std::variant<Invocation, ArgumentError> {
    const std::string file = newFile(".png");
    if (file.empty()) return ArgumentError{false, "no temporary folder for the image"};
    Invocation call{{file}, 10 + kMargin, file};
    if (arguments.contains("region")) {
      for (const char* name : {"x", "y", "width", "height"}) {
        call.args.push_back(number(arguments["region"][name].get<double>()));
      }
    }
    return call;
  };
  tool.result = [](const ChildResult& child, const Invocation& call) {
    if (child.status != status::shot::kOk) {
      if (child.status == status::shot::kNoFrontmost) {
        return textResult(trimmed(child.err) +
                              "\nWhat to do: bring a window to the front, or "
                              "pass a region.",
                          true);
      }
      return failure("vantic-shot", child);
    }
    // The image is read from the file the server chose, whatever the report says; the server
    // removes the file after the call.
    const std::string line = trimmed(child.out);
    auto report = reportFields(line, "file", call.file);
    std::ifstream in(call.file, std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<double> place[5];
    const char* names[5] = {"x", "y", "width", "height", "scale"};
    for (int k = 0; k < 5; ++k) place[k] = mevrik::parseDouble(report[names[k]]);
    const std::optional<int64_t> pid = mevrik::parseInt64(report["pid"]);
    if (png.empty() || report["file"] != call.file || !pid ||
        !std::all_of(std::begin(place), std::end(place), [](auto& v) { return v.has_value(); })) {
      return failure("vantic-shot", child);
    }
    Json result =
        textResult(line + "\nImage point (u, v) = screen point (" + report["x"] + " + u / " +
                       report["scale"] + ", " + report["y"] + " + v / " + report["scale"] + ").",
                   false,
                   Json{{"x", *place[0]},
                        {"y", *place[1]},
                        {"width", *place[2]},
                        {"height", *place[3]},
                        {"scale", *place[4]},
                        {"pid", *pid}});
    result["content"].push_back(
        {{"type", "image"}, {"data", base64(png)}, {"mimeType", "image/png"}});
    return result;
  };
  return tool;
}

}  // namespace

const std::vector<Tool>& toolTable() {
  static const std::vector<Tool> table = {snapshotTool(), clickTool(),     requestAccessTool(),
                                          typeTextTool(), pressKeysTool(), screenshotTool()};
  return table;
}

Json textResult(const std::string& text, bool isError, const Json& structured) {
  Json result = {{"content", Json::array({{{"type", "text"}, {"text", text}}})},
                 {"isError", isError}};
  if (!structured.is_null()) result["structuredContent"] = structured;
  return result;
}

}  // namespace mcp
