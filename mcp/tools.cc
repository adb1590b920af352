#include "mcp/tools.h"

#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "common/exit_status.h"
#include "common/numbers.h"

namespace mcp {
namespace {

namespace status = mevrik::exit_status;

// How long a child may run beyond its own time budget before it is killed.
constexpr double kGrace = 5;
constexpr double kDefaultBudget = 0.5;

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

Json numberProperty(const char* description) {
  return {{"type", "number"}, {"description", description}};
}

Json integerProperty(const char* description) {
  return {{"type", "integer"}, {"description", description}};
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
       {{"budget", numberProperty("Seconds the walk may take (default 0.5, at most 30).")},
        {"max_elements", integerProperty("Most records to list (default 300).")},
        {"settle", numberProperty("Seconds to wait before reading, for an interface that is "
                                  "still changing (default 0, at most 5).")}}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Snapshot of the frontmost application", true);
  tool.invocation = [](const Json& arguments) -> std::variant<Invocation, ArgumentError> {
    Invocation call;
    const double budget = optionalNumber(arguments, "budget").value_or(kDefaultBudget);
    const double settle = optionalNumber(arguments, "settle").value_or(0);
    if (!(budget > 0 && budget <= 30))
      return ArgumentError{false, "budget must be above 0 and at most 30"};
    if (!(settle >= 0 && settle <= 5)) return ArgumentError{false, "settle must be from 0 to 5"};
    if (arguments.contains("budget")) call.args = {"--budget", number(budget)};
    if (arguments.contains("settle")) {
      call.args.insert(call.args.end(), {"--settle", number(settle)});
    }
    if (arguments.contains("max_elements")) {
      const int64_t most = arguments["max_elements"].get<int64_t>();
      if (most < 1) return ArgumentError{false, "max_elements must be at least 1"};
      call.args.insert(call.args.end(), {"--max-elements", std::to_string(most)});
    }
    call.timeoutSeconds = budget + settle + kGrace;
    return call;
  };
  tool.result = [](const ChildResult& child) {
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
       {{"x", numberProperty("Screen x in points.")},
        {"y", numberProperty("Screen y in points.")},
        {"action",
         {{"type", "string"},
          {"enum", {"left", "right", "middle", "double", "triple", "move", "drag", "scroll"}},
          {"description", "The action (default left)."}}},
        {"to_x", numberProperty("Drag end x (drag only).")},
        {"to_y", numberProperty("Drag end y (drag only).")},
        {"dx", integerProperty("Horizontal scroll lines (scroll only).")},
        {"dy", integerProperty("Vertical scroll lines (scroll only).")}}},
      {"required", {"x", "y"}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Pointer action", false);
  tool.invocation = [](const Json& arguments) -> std::variant<Invocation, ArgumentError> {
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
        const int64_t lines = arguments.value(name, int64_t{0});
        if (lines < -10000 || lines > 10000) {
          return ArgumentError{false, std::string(name) + " must be from -10000 to 10000"};
        }
        call.args.push_back(std::to_string(lines));
      }
    }
    call.timeoutSeconds = 1 + kGrace;  // the longest action (a drag) takes well under a second
    return call;
  };
  tool.result = [](const ChildResult& child) {
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
  tool.invocation = [](const Json&) -> std::variant<Invocation, ArgumentError> {
    return Invocation{{"--prompt"}, kDefaultBudget + kGrace};
  };
  tool.result = [](const ChildResult& child) {
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

Json typeResult(const ChildResult& child) {
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
      {"properties", {{"text", {{"type", "string"}, {"description", "The text."}}}}},
      {"required", {"text"}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Type text", false);
  tool.invocation = [](const Json& arguments) -> std::variant<Invocation, ArgumentError> {
    const std::string text = arguments["text"].get<std::string>();
    // A key burst takes microseconds; applications that lag make the run wait for them, at
    // most two seconds for each batch of characters missing from the keyboard map.
    return Invocation{{"text", text}, 10 + static_cast<double>(text.size()) / 10 + kGrace};
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
                          {"items", {{"type", "string"}}},
                          {"minItems", 1},
                          {"description", "The chords, pressed one after the other."}}}}},
                      {"required", {"keys"}},
                      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Press keys", false);
  tool.invocation = [](const Json& arguments) -> std::variant<Invocation, ArgumentError> {
    Invocation call{{"key"}, 10 + kGrace};
    for (const Json& chord : arguments["keys"]) call.args.push_back(chord.get<std::string>());
    if (call.args.size() == 1) return ArgumentError{false, "keys needs at least one chord"};
    return call;
  };
  tool.result = typeResult;
  return tool;
}

// A folder of this server's own for screenshot files, made once (0700, so no other user can
// place a file or link there).
const std::string& shotFolder() {
  static const std::string folder = [] {
    std::string pattern = std::filesystem::temp_directory_path() / "mevrik-mcp-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
  }();
  return folder;
}

std::string base64(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t chunk = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 2]);
    for (size_t k = 0; k < 4; ++k) {
      out += i + k <= bytes.size() ? kDigits[(chunk >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

// The "key=value" fields of a report line.
std::map<std::string, std::string> fields(const std::string& line) {
  std::map<std::string, std::string> out;
  std::istringstream words(line);
  for (std::string word; words >> word;) {
    if (const size_t eq = word.find('='); eq != std::string::npos)
      out[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return out;
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
           {{"x", {{"type", "number"}}},
            {"y", {{"type", "number"}}},
            {"width", {{"type", "number"}}},
            {"height", {{"type", "number"}}}}},
          {"required", {"x", "y", "width", "height"}},
          {"description", "A screen rectangle in points (default: the frontmost window)."}}}}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Screenshot", true);
  tool.invocation = [](const Json& arguments) -> std::variant<Invocation, ArgumentError> {
    if (shotFolder().empty()) return ArgumentError{false, "no folder for the image"};
    static std::atomic<int> count = 0;
    Invocation call{{shotFolder() + "/shot-" + std::to_string(++count) + ".png"}, 10 + kGrace};
    if (arguments.contains("region")) {
      const Json& region = arguments["region"];
      for (const char* name : {"x", "y", "width", "height"}) {
        if (!region.contains(name) || !region[name].is_number()) {
          return ArgumentError{false, std::string("region needs a number ") + name};
        }
        call.args.push_back(number(region[name].get<double>()));
      }
    }
    return call;
  };
  tool.result = [](const ChildResult& child) {
    if (child.status != status::shot::kOk) {
      if (child.status == status::shot::kNoFrontmost) {
        return textResult(trimmed(child.err) +
                              "\nWhat to do: bring a window to the front, or "
                              "pass a region.",
                          true);
      }
      return failure("vantic-shot", child);
    }
    auto report = fields(child.out);
    const std::string file = report["file"];
    // Only a file in this server's folder is read (and removed).
    if (file.rfind(shotFolder() + "/", 0) != 0) return failure("vantic-shot", child);
    std::ifstream in(file, std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(file);
    if (png.empty()) return failure("vantic-shot", child);
    const std::string line = trimmed(child.out);
    Json result =
        textResult(line + "\nImage point (u, v) = screen point (" + report["x"] + " + u / " +
                       report["scale"] + ", " + report["y"] + " + v / " + report["scale"] + ").",
                   false,
                   Json{{"x", std::stod(report["x"])},
                        {"y", std::stod(report["y"])},
                        {"width", std::stod(report["width"])},
                        {"height", std::stod(report["height"])},
                        {"scale", std::stod(report["scale"])},
                        {"pid", std::stoi(report["pid"])}});
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

std::optional<ArgumentError> checkArguments(const Tool& tool, const Json& arguments) {
  const Json& properties = tool.inputSchema["properties"];
  for (const auto& [name, value] : arguments.items()) {
    if (!properties.contains(name)) {
      std::string known;
      for (const auto& [property, _] : properties.items()) {
        known += (known.empty() ? "" : ", ") + property;
      }
      return ArgumentError{false, "unknown argument " + name + "; " + tool.name + " takes " +
                                      (known.empty() ? "no arguments" : known)};
    }
    const Json& schema = properties[name];
    const std::string type = schema["type"];
    if (type == "array") {
      if (!value.is_array() || !std::all_of(value.begin(), value.end(),
                                            [](const Json& item) { return item.is_string(); }))
        return ArgumentError{true, name + " must be an array of strings"};
      continue;
    }
    if (type == "object") {
      if (!value.is_object()) return ArgumentError{true, name + " must be an object"};
      continue;
    }
    const bool integral = value.is_number_integer() ||
                          (value.is_number_float() && std::isfinite(value.get<double>()) &&
                           std::trunc(value.get<double>()) == value.get<double>() &&
                           std::fabs(value.get<double>()) < 9e15);
    const bool fits = type == "number"    ? value.is_number()
                      : type == "integer" ? integral
                                          : value.is_string();
    if (!fits)
      return ArgumentError{true, name + " must be " + (type == "integer" ? "an " : "a ") + type};
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
      return ArgumentError{false, name + " must be one of " + schema["enum"].dump()};
    }
  }
  if (tool.inputSchema.contains("required")) {
    for (const Json& name : tool.inputSchema["required"]) {
      if (!arguments.contains(name.get<std::string>())) {
        return ArgumentError{true, "missing argument " + name.get<std::string>()};
      }
    }
  }
  return std::nullopt;
}

Json textResult(const std::string& text, bool isError, const Json& structured) {
  Json result = {{"content", Json::array({{{"type", "text"}, {"text", text}}})},
                 {"isError", isError}};
  if (!structured.is_null()) result["structuredContent"] = structured;
  return result;
}

}  // namespace mcp
