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
// Process ids are positive pid_t values; window ids are 32-bit (X11 XIDs, macOS window numbers).
constexpr int64_t kLargestPid = 2147483647;
constexpr int64_t kLargestWindowId = 4294967295;
// Texts compared with what a snapshot printed (roles are short words, labels are clipped).
constexpr size_t kMaxRoleCharacters = 100;
constexpr size_t kMaxLabelCharacters = 1000;
// A record's path as the snapshot prints it: child indexes, or "m" and indexes from the menu bar.
// Anything else could read as an option of the tool.
constexpr char kPathPattern[] = "^(m\\.)?(0|[1-9][0-9]{0,8})(\\.(0|[1-9][0-9]{0,8}))*$";

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

Json pidProperty(const char* description) {
  return integerProperty(description, 1, kLargestPid);
}

Json windowProperty(const char* description) {
  return integerProperty(description, 1, kLargestWindowId);
}

Json stringProperty(const char* description, size_t maxLength) {
  return {{"type", "string"}, {"maxLength", maxLength}, {"description", description}};
}

// The annotations of a tool that changes nothing outside the desktop.
Json desktopAnnotations(const char* title, bool readOnly) {
  return {{"title", title},
          {"readOnlyHint", readOnly},
          {"destructiveHint", !readOnly},
          {"idempotentHint", readOnly},
          {"openWorldHint", false}};
}

// Appends OPTION and the integer argument NAME when the call has it.
void passInteger(const Json& arguments, const char* name, const char* option,
                 std::vector<std::string>& args) {
  if (arguments.contains(name)) {
    args.insert(args.end(), {option, std::to_string(arguments[name].get<int64_t>())});
  }
}

// A tool's one JSON object as the call's text and, unchanged, its structured content: parsing
// and printing a large document again was most of the server's time per snapshot.
std::optional<Json> documentResult(const ChildResult& child) {
  const std::string line = trimmed(child.out);
  if (line.empty() || line.front() != '{' || line.find('\n') != std::string::npos ||
      !Json::accept(line)) {
    return std::nullopt;
  }
  Json result = textResult(line, false);
  result[kRawStructuredContent] = line;
  return result;
}

// A failure the tool explained in its {"error":...} line, with what the agent can do about it.
Json explainedFailure(const std::string& program, const ChildResult& child,
                      const std::string& whatToDo) {
  const std::optional<Json> line = jsonLine(child.out);
  if (!line || !line->contains("error") || !(*line)["error"].is_string())
    return failure(program, child);
  return textResult((*line)["error"].get<std::string>() + "\nWhat to do: " + whatToDo, true);
}

Tool snapshotTool() {
  Tool tool;
  tool.name = "snapshot";
  tool.program = "vantic-ax";
  tool.description =
      "Read an application's interface: a numbered list of its elements (role, label, value, "
      "centre x/y in screen points, size, disabled). By default the frontmost application; with "
      "pid or window (from list_windows) that application or window, without raising it. Pass an "
      "element's x and y to click, or with paths: true its path to press and set_text.";
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
                                  0, 5)},
        {"pid", pidProperty("Read the application with this process id instead of the frontmost "
                            "one.")},
        {"window", windowProperty("Read this window (an id from list_windows).")},
        {"paths",
         {{"type", "boolean"},
          {"description",
           "Give each record a path, which press and set_text take (default "
           "false)."}}}}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Snapshot of an application", true);
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
    passInteger(arguments, "pid", "--pid", call.args);
    passInteger(arguments, "window", "--window", call.args);
    if (arguments.value("paths", false)) call.args.push_back("--paths");
    call.budgetSeconds = budget + settle + kMargin;
    return call;
  };
  tool.result = [](const ChildResult& child, const Invocation& call) {
    if (child.status == status::ax::kOk) {
      if (auto result = documentResult(child)) return *result;
    }
    if (child.status == status::ax::kNotTrusted) {
      // A Wayland session or window the tool cannot serve is no matter of access: its line tells
      // the remedy.
      const std::string error = errorText(child.out);
      if (error.starts_with("Wayland session: ")) {
        return textResult(error + "\nWhat to do: as the line says, then snapshot again.", true);
      }
      return textResult(error +
                            "\nWhat to do: call request_access (or open Mevrik and turn on "
                            "accessibility), restart the application, then snapshot again.",
                        true);
    }
    if (child.status == status::ax::kNoFrontmost) {
      const bool targeted = std::any_of(call.args.begin(), call.args.end(), [](const auto& arg) {
        return arg == "--pid" || arg == "--window";
      });
      return textResult(
          errorText(child.out) + (targeted ? "\nWhat to do: call list_windows for the windows and "
                                             "processes there are now."
                                           : "\nWhat to do: call list_windows and focus_window the "
                                             "application, then snapshot again."),
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
        {"dy", integerProperty("Vertical scroll lines (scroll only).", -10000, 10000)},
        {"expect_pid",
         pidProperty("Act only if the point lies in a window of this process (a pid from "
                     "list_windows); otherwise nothing is done and the window in the way is "
                     "named.")}}},
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
    passInteger(arguments, "expect_pid", "--expect-pid", call.args);
    call.budgetSeconds = 1 + kMargin;  // the longest action (a drag) takes well under a second
    return call;
  };
  tool.result = [](const ChildResult& child, const Invocation&) {
    if (child.status == status::click::kOk) return textResult(trimmed(child.out), false);
    if (child.status == status::click::kRefused && !trimmed(child.err).empty()) {
      return textResult(trimmed(child.err) +
                            "\nWhat to do: focus_window the application you meant, snapshot, "
                            "and click its element then; or press it by its path.",
                        true);
    }
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

// vantic-win's outcomes: a window record or list, or an error line and what to do.
Json windowResult(const ChildResult& child, const Invocation&) {
  if (child.status == status::win::kOk) {
    if (auto result = documentResult(child)) return *result;
  }
  switch (child.status) {
    case status::win::kNoWindowList:
      return explainedFailure("vantic-win", child,
                              "this window manager does not list its windows; ask the user to "
                              "bring the application to the front, then snapshot.");
    case status::win::kNotFound:
      return explainedFailure("vantic-win", child,
                              "call list_windows for the windows there are now.");
    case status::win::kNotActivated:
      return explainedFailure("vantic-win", child,
                              "call list_windows; if the window is still there, focus_window "
                              "it again.");
    case status::win::kLaunchFailed:
      return explainedFailure("vantic-win", child,
                              "check the desktop id or command; list_windows shows whether the "
                              "application is already open.");
    default:
      return explainedFailure("vantic-win", child, "make sure an X11 desktop is reachable.");
  }
}

Tool listWindowsTool() {
  Tool tool;
  tool.name = "list_windows";
  tool.program = "vantic-win";
  tool.description =
      "List the desktop's windows, topmost first: {\"windows\": [{id, app, pid, title, x, y, w, "
      "h, focused, minimized, desktop}]}, the frame in screen points. Use it to find the "
      "application to work on, for focus_window, or snapshot's pid or window.";
  tool.inputSchema = {
      {"type", "object"}, {"properties", Json::object()}, {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("List windows", true);
  tool.invocation = [](const Json&, const NewFile&) -> std::variant<Invocation, ArgumentError> {
    return Invocation{{"list"}, 1 + kMargin, {}};
  };
  tool.result = windowResult;
  return tool;
}

Tool focusWindowTool() {
  Tool tool;
  tool.name = "focus_window";
  tool.program = "vantic-win";
  tool.description =
      "Bring a window to the front and give it the keyboard focus (un-minimising it and "
      "switching desktops if needed), chosen by one of window (an id from list_windows), pid or "
      "app (its name). Waits until it is active and returns its record.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"window", windowProperty("The window's id.")},
        {"pid", pidProperty("A process id: its topmost window.")},
        {"app", stringProperty("An application name, any case: its topmost window.", 256)},
        {"timeout",
         {{"type", "number"},
          {"exclusiveMinimum", 0},
          {"maximum", 30},
          {"description", "Seconds to wait until it is active (default 2)."}}}}},
      {"additionalProperties", false}};
  tool.annotations = {{"title", "Focus a window"},
                      {"readOnlyHint", false},
                      {"destructiveHint", false},
                      {"idempotentHint", true},
                      {"openWorldHint", false}};
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    const int targets = static_cast<int>(arguments.contains("window")) +
                        static_cast<int>(arguments.contains("pid")) +
                        static_cast<int>(arguments.contains("app"));
    if (targets != 1) return ArgumentError{false, "give exactly one of window, pid, app"};
    Invocation call{{"focus"}, 2 + kMargin, {}};
    if (arguments.contains("window")) {
      call.args.push_back(std::to_string(arguments["window"].get<int64_t>()));
    }
    passInteger(arguments, "pid", "--pid", call.args);
    if (arguments.contains("app")) {
      const std::string app = arguments["app"].get<std::string>();
      if (app.empty()) return ArgumentError{false, "app must not be empty"};
      call.args.insert(call.args.end(), {"--app", app});
    }
    if (auto timeout = optionalNumber(arguments, "timeout")) {
      call.args.insert(call.args.end(), {"--timeout", number(*timeout)});
      call.budgetSeconds = *timeout + kMargin;
    }
    return call;
  };
  tool.result = windowResult;
  return tool;
}

Tool launchAppTool() {
  Tool tool;
  tool.name = "launch_app";
  tool.program = "vantic-win";
  tool.description =
      "Start an application, by its desktop entry (desktop_id, such as gtk3-widget-factory or "
      "org.gnome.Calculator.desktop) or as a command (command: the program and its arguments, "
      "never through a shell), wait for its first window and return that window's record.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"desktop_id",
         {{"type", "string"},
          {"maxLength", 1024},
          {"pattern", "^[^-]"},
          {"description", "A desktop entry's id or the path of a .desktop file."}}},
        {"command",
         {{"type", "array"},
          {"items", {{"type", "string"}, {"maxLength", kMaxTextCharacters}}},
          {"minItems", 1},
          {"maxItems", kMaxChords},
          {"description", "The program (a name on PATH or a path) and its arguments."}}},
        {"timeout",
         {{"type", "number"},
          {"exclusiveMinimum", 0},
          {"maximum", 120},
          {"description", "Seconds to wait for the first window (default 10)."}}}}},
      {"additionalProperties", false}};
  tool.annotations = {{"title", "Launch an application"},
                      {"readOnlyHint", false},
                      {"destructiveHint", true},  // a command may do anything
                      {"idempotentHint", false},
                      {"openWorldHint", false}};
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    if (arguments.contains("desktop_id") == arguments.contains("command")) {
      return ArgumentError{false, "give exactly one of desktop_id, command"};
    }
    Invocation call{{"launch"}, 10 + kMargin, {}};
    if (auto timeout = optionalNumber(arguments, "timeout")) {
      call.args.insert(call.args.end(), {"--timeout", number(*timeout)});
      call.budgetSeconds = *timeout + kMargin;
    }
    if (arguments.contains("desktop_id")) {
      call.args.push_back(arguments["desktop_id"].get<std::string>());
      return call;
    }
    if (arguments["command"][0].get<std::string>().empty()) {
      return ArgumentError{false, "command[0] must name the program"};
    }
    call.args.push_back("--");
    for (const Json& word : arguments["command"]) call.args.push_back(word.get<std::string>());
    return call;
  };
  tool.result = windowResult;
  return tool;
}

Tool windowAtTool() {
  Tool tool;
  tool.name = "window_at";
  tool.program = "vantic-win";
  tool.description =
      "Which window (and application) a click at the screen point x, y would reach: its record, "
      "or an error when no window is there.";
  tool.inputSchema = {
      {"type", "object"},
      {"properties",
       {{"x", coordinate("Screen x in points.")}, {"y", coordinate("Screen y in points.")}}},
      {"required", {"x", "y"}},
      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Window at a point", true);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    return Invocation{
        {"at", number(arguments["x"].get<double>()), number(arguments["y"].get<double>())},
        1 + kMargin,
        {}};
  };
  tool.result = windowResult;
  return tool;
}

// The arguments press and set_text share: the record's path, where the snapshot was taken, and
// what the record was.
Json elementProperties() {
  return {{"path",
           {{"type", "string"},
            {"maxLength", 1000},
            {"pattern", kPathPattern},
            {"description",
             "The record's path, from snapshot with paths: true (such as "
             "\"0.3.1\" or \"m.2.0\")."}}},
          {"pid", pidProperty("The pid the snapshot was taken with (default: the frontmost "
                              "application).")},
          {"window", windowProperty("The window the snapshot was taken with.")},
          {"expect_role", stringProperty("The record's role: refuse if the element's differs.",
                                         kMaxRoleCharacters)},
          {"expect_label", stringProperty("The record's label: refuse if the element's differs.",
                                          kMaxLabelCharacters)}};
}

// vantic-act's command line after PATH ACTION [TEXT].
Invocation actInvocation(const Json& arguments, std::vector<std::string> args) {
  passInteger(arguments, "pid", "--pid", args);
  passInteger(arguments, "window", "--window", args);
  for (const auto& [name, option] :
       {std::pair{"expect_role", "--expect-role"}, std::pair{"expect_label", "--expect-label"}}) {
    if (arguments.contains(name)) {
      args.insert(args.end(), {option, arguments[name].get<std::string>()});
    }
  }
  // Each request to the application gives up after a second; a path is a few of them.
  return Invocation{std::move(args), 5 + kMargin, {}};
}

Json actResult(const ChildResult& child, const Invocation& call) {
  if (child.status == status::act::kOk) {
    if (auto result = documentResult(child)) return *result;
  }
  const bool press = call.args.size() > 1 && call.args[1] == "press";
  switch (child.status) {
    case status::act::kFailed:
      return explainedFailure("vantic-act", child,
                              "snapshot to see whether it happened before trying again.");
    case status::act::kNotTrusted:
      return explainedFailure("vantic-act", child,
                              "call request_access, restart the application, then snapshot.");
    case status::act::kNoTarget:
      return explainedFailure("vantic-act", child,
                              "call list_windows, then snapshot with that pid or window and "
                              "paths: true.");
    case status::act::kStale:
    case status::act::kMismatch:
      return explainedFailure("vantic-act", child,
                              "the interface changed: snapshot again with paths: true and use "
                              "the record's new path.");
    case status::act::kNoAction:
      return explainedFailure(
          "vantic-act", child,
          press ? "click the record's x and y instead."
                : "click the field (or press_keys [\"ctrl+a\"] after it) and use type_text.");
    default:
      return failure("vantic-act", child);
  }
}

Tool pressTool() {
  Tool tool;
  tool.name = "press";
  tool.program = "vantic-act";
  tool.description =
      "Press a button, check box, radio button, tab, link or menu item through its own "
      "accessibility action, found by the path a snapshot with paths: true gave it. No pointer "
      "is used: it cannot land in another window and works on windows behind others. Returns "
      "the element's state afterwards (value \"1\" for a ticked box, changed).";
  tool.inputSchema = {{"type", "object"},
                      {"properties", elementProperties()},
                      {"required", {"path"}},
                      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Press an element", false);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    return actInvocation(arguments, {arguments["path"].get<std::string>(), "press"});
  };
  tool.result = actResult;
  return tool;
}

Tool setTextTool() {
  Tool tool;
  tool.name = "set_text";
  tool.program = "vantic-act";
  tool.description =
      "Replace the text of an editable field with text, through the accessibility interface, "
      "found by the path a snapshot with paths: true gave it. No keys are typed and the focus "
      "stays where it is. Returns the field's state afterwards.";
  Json properties = elementProperties();
  properties["text"] =
      stringProperty("The field's new text (at most 16384 characters).", kMaxTextCharacters);
  tool.inputSchema = {{"type", "object"},
                      {"properties", properties},
                      {"required", {"path", "text"}},
                      {"additionalProperties", false}};
  tool.annotations = desktopAnnotations("Set a field's text", false);
  tool.invocation = [](const Json& arguments,
                       const NewFile&) -> std::variant<Invocation, ArgumentError> {
    return actInvocation(arguments, {arguments["path"].get<std::string>(), "set-text",
                                     arguments["text"].get<std::string>()});
  };
  tool.result = actResult;
  return tool;
}

}  // namespace

const std::vector<Tool>& toolTable() {
  static const std::vector<Tool> table = {snapshotTool(),    clickTool(),       requestAccessTool(),
                                          typeTextTool(),    pressKeysTool(),   screenshotTool(),
                                          listWindowsTool(), focusWindowTool(), launchAppTool(),
                                          windowAtTool(),    pressTool(),       setTextTool()};
  return table;
}

Json textResult(const std::string& text, bool isError, const Json& structured) {
  Json result = {{"content", Json::array({{{"type", "text"}, {"text", text}}})},
                 {"isError", isError}};
  if (!structured.is_null()) result["structuredContent"] = structured;
  return result;
}

}  // namespace mcp
