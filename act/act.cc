#include "act/act.h"

#include <algorithm>
#include <optional>

#include "ax/json.h"
#include "ax/text.h"
#include "ax/walk.h"

namespace act {
namespace {

using ax::Element;
using ax::Platform;
using ax::RunResult;

// Requests to the target application give up after this long; the action itself may take a
// moment longer in a toolkit that does its work before it answers.
constexpr float kMessagingTimeout = 1.0f;
// How long the state after the action is watched for the change the action makes.
constexpr double kChangeWait = 0.5;
// Short: a toolkit that carries the action out on its next idle turn shows the change within a
// millisecond or two, and the caller waits for this process to end.
constexpr double kPoll = 0.002;

struct Request {
  std::string path;
  Platform::Action action = Platform::Action::kPress;
  std::string actionWord;
  std::string text;
  std::vector<std::string> targetArgs;  // --pid/--window with their values, for the snapshot rules
  std::optional<std::string> expectRole;
  std::optional<std::string> expectLabel;
};

RunResult failure(const std::string& message, int status) {
  return {ax::errorLine(message), status};
}

std::optional<Request> parse(const std::vector<std::string>& args, std::string& error) {
  Request r;
  std::vector<std::string> positional;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& word = args[k];
    // The text of set-text is taken as it is, even when it looks like an option.
    if (positional.size() == 2 && positional[1] == "set-text") {
      positional.push_back(word);
      continue;
    }
    const bool option = word == "--pid" || word == "--window" || word == "--expect-role" ||
                        word == "--expect-label";
    if (option) {
      if (k + 1 >= args.size()) {
        error = word + " needs a value";
        return std::nullopt;
      }
      const std::string& value = args[++k];
      if (word == "--expect-role") {
        r.expectRole = value;
      } else if (word == "--expect-label") {
        r.expectLabel = value;
      } else {
        r.targetArgs.insert(r.targetArgs.end(), {word, value});
      }
    } else if (word.starts_with("--")) {
      error = "unknown option " + word;
      return std::nullopt;
    } else {
      positional.push_back(word);
    }
  }
  if (positional.size() < 2) {
    error = "a path and an action are needed";
    return std::nullopt;
  }
  r.path = positional[0];
  r.actionWord = positional[1];
  const size_t wanted = r.actionWord == "set-text" ? 3 : 2;
  if (r.actionWord == "press") {
    r.action = Platform::Action::kPress;
  } else if (r.actionWord == "focus") {
    r.action = Platform::Action::kFocus;
  } else if (r.actionWord == "set-text") {
    r.action = Platform::Action::kSetText;
    if (positional.size() < 3) {
      error = "set-text needs the text";
      return std::nullopt;
    }
    r.text = positional[2];
    if (ax::repairUtf8(r.text) != r.text) {
      error = "the text is not valid UTF-8";
      return std::nullopt;
    }
  } else {
    error = "unknown action \"" + r.actionWord + "\" (press, focus or set-text)";
    return std::nullopt;
  }
  if (positional.size() > wanted) {
    error = "unexpected argument \"" + positional[wanted] + "\"";
    return std::nullopt;
  }
  if (!ax::parsePath(r.path)) {
    error = "\"" + r.path + "\" is not a path (child indexes such as 0.3.1, or m.2.0)";
    return std::nullopt;
  }
  return r;
}

// The role and what a record's text reads (the walk's detail attributes).
const std::vector<std::string> kStateAttributes = {
    ax::attribute::kRole,        ax::attribute::kTitle,
    ax::attribute::kDescription, ax::attribute::kPlaceholderValue,
    ax::attribute::kValue,       ax::attribute::kEnabled};

// What the tool reports of the element, read afresh.
struct State {
  ax::RecordText text;
  bool focused = false;
};

State readState(Platform& platform, const ax::RunState& run, const Element& element,
                const std::optional<std::string>& menuTitle) {
  State s;
  // The role and the details in one batch (the record's own reads then find them fetched); not
  // the children, which are of no use here and can make a backend read ahead under the element.
  const auto read = ax::multi(platform, element, kStateAttributes);
  s.text = ax::recordText(platform, run, element, ax::asString(read[0]));
  if (menuTitle) {
    // A menu-bar title's record: its title, clipped as the menu-bar pass does.
    s.text.role = "menu";
    s.text.label =
        ax::menuTitleLabel(ax::asString(ax::attr(platform, element, ax::attribute::kTitle)));
    s.text.value.clear();
    s.text.disabled = false;
  }
  const Element focus =
      ax::asElement(ax::attr(platform, run.app, ax::attribute::kFocusedUIElement));
  s.focused = focus && platform.isEqual(focus, element);
  return s;
}

bool changed(const State& before, const State& after, const Request& r) {
  switch (r.action) {
    case Platform::Action::kPress:
      return after.text.value != before.text.value || after.focused != before.focused;
    case Platform::Action::kFocus:
      return after.focused;
    case Platform::Action::kSetText:
      return after.text.value != before.text.value;
  }
  return true;
}

// Whether the action can show at all in what the tool reads: a press of an element without a
// value (a plain button) or a text equal to the one there changes nothing to wait for.
bool observable(const State& before, const Request& r) {
  switch (r.action) {
    case Platform::Action::kPress:
      return !before.text.value.empty();
    case Platform::Action::kFocus:
      return !before.focused;
    case Platform::Action::kSetText:
      return ax::clip(r.text, 120) != before.text.value;
  }
  return false;
}

std::string describe(const ax::RecordText& t) {
  std::string out = t.role.empty() ? "element" : t.role;
  if (!t.label.empty()) out += " \"" + t.label + "\"";
  return out;
}

std::string report(const Request& r, const State& s, bool didChange) {
  ax::JsonWriter json;
  json.beginObject();
  json.key("action");
  json.string(r.actionWord);
  json.key("path");
  json.string(r.path);
  json.key("role");
  json.string(s.text.role);
  json.key("label");
  json.string(s.text.label);
  json.key("value");
  json.string(s.text.value);
  json.key("focused");
  json.boolean(s.focused);
  json.key("disabled");
  json.boolean(s.text.disabled);
  json.key("changed");
  json.boolean(didChange);
  json.endObject();
  return json.take();
}

}  // namespace

const char kUsage[] =
    "usage: vantic-act PATH press|focus|set-text TEXT [--pid PID | --window ID]\n"
    "                  [--expect-role ROLE] [--expect-label LABEL]\n";

RunResult runAct(Platform& platform, const std::vector<std::string>& args) {
  std::string error;
  const std::optional<Request> request = parse(args, error);
  if (!request) return failure(error, kExitUsage);
  const Request& r = *request;

  platform.prepareLookup();
  if (std::optional<std::string> unsupported = platform.unsupportedSession()) {
    return failure(*unsupported, kExitNotTrusted);
  }
  if (!platform.isProcessTrusted()) return failure(platform.notTrustedMessage(), kExitNotTrusted);
  ax::RunState run;
  ax::parseOptions(r.targetArgs, run);
  const std::optional<ax::FrontmostApplication> target =
      ax::targetApplication(platform, run, error);
  if (!target) return failure(error, kExitNoTarget);
  run.app = platform.createApplicationElement(target->pid);
  platform.setMessagingTimeout(run.app, kMessagingTimeout);
  platform.setBooleanAttribute(run.app, ax::attribute::kManualAccessibility, true);

  // Down the path, as the walk went: from the window (or the menu bar), child by child.
  const ax::ParsedPath path = *ax::parsePath(r.path);
  Element element;
  std::optional<std::string> menuTitle;
  size_t from = 0;
  if (path.menuBar) {
    const Element bar = ax::asElement(ax::attr(platform, run.app, ax::attribute::kMenuBar));
    const std::optional<ax::Value> listed =
        bar ? ax::attr(platform, bar, ax::attribute::kChildren) : std::nullopt;
    const std::vector<ax::Value>* items = ax::asElementList(listed);
    if (!items || path.indexes[0] >= items->size()) {
      return failure("path " + r.path + " no longer resolves: the menu bar has no title " +
                         std::to_string(path.indexes[0]),
                     kExitStale);
    }
    element = (*items)[path.indexes[0]].element;
    from = 1;
    if (path.indexes.size() == 1) menuTitle = "";
  } else {
    bool unanswered = false;
    element = ax::targetWindow(platform, run, unanswered);
    if (!element) {
      if (unanswered) return failure("the application did not answer in time", kExitFailed);
      return failure("path " + r.path + " no longer resolves: the application shows no window",
                     kExitStale);
    }
  }
  for (size_t k = from; k < path.indexes.size(); ++k) {
    // A menu-bar title lists its menu with the title's own read, as the menu-bar pass reads it;
    // below that, one child at a time.
    const bool title = path.menuBar && k == 1;
    Element child = title ? nullptr : platform.childAt(element, path.indexes[k]);
    std::optional<ax::Value> listed;
    if (!child) {
      // The whole list, as the walk read it: a backend's one-child request may have failed where
      // the list still holds the child, and a path that no longer resolves is told by its length.
      listed = title ? ax::multi(platform, element,
                                 {ax::attribute::kTitle, ax::attribute::kPosition,
                                  ax::attribute::kSize, ax::attribute::kChildren})[3]
                     : ax::multi(platform, element, ax::kBaseAttributes)[3];
      const std::vector<ax::Value>* children = ax::asElementList(listed);
      if (children && path.indexes[k] < children->size()) {
        child = (*children)[path.indexes[k]].element;
      }
    }
    if (!child) {
      const std::vector<ax::Value>* children = ax::asElementList(listed);
      std::string at = path.menuBar ? "m" : "";
      for (size_t j = 0; j < k; ++j)
        at += (at.empty() ? "" : ".") + std::to_string(path.indexes[j]);
      return failure("path " + r.path + " no longer resolves: " +
                         (at.empty() ? std::string("the window") : "element " + at) + " has " +
                         std::to_string(children ? children->size() : 0) + " children",
                     kExitStale);
    }
    element = child;
  }

  const State before = readState(platform, run, element, menuTitle);
  if (r.expectRole && *r.expectRole != before.text.role) {
    return failure("refused: the element at " + r.path + " is a " + describe(before.text) +
                       ", not a " + *r.expectRole,
                   kExitMismatch);
  }
  if (r.expectLabel && *r.expectLabel != before.text.label) {
    return failure("refused: the element at " + r.path + " is a " + describe(before.text) +
                       ", not labelled \"" + *r.expectLabel + "\"",
                   kExitMismatch);
  }

  const int32_t code = platform.performAction(element, r.action, r.text);
  if (code == ax::kActionUnsupported) {
    return failure(
        "the " + describe(before.text) + " at " + r.path + " has no " + r.actionWord + " action",
        kExitNoAction);
  }
  if (code == ax::kCannotComplete) {
    return failure(
        "the application did not confirm the " + r.actionWord + " in time; it may still happen",
        kExitFailed);
  }
  if (code != ax::kSuccess) {
    return failure(
        "the application refused the " + r.actionWord + " (error " + std::to_string(code) + ")",
        kExitFailed);
  }

  // Toolkits often carry an action out after answering: the state is read until it shows the
  // change, for a short while.
  State after = readState(platform, run, platform.refreshed(element), menuTitle);
  bool didChange = changed(before, after, r);
  if (!didChange && observable(before, r)) {
    const double deadline = platform.now() + kChangeWait;
    while (!didChange && platform.now() < deadline) {
      platform.sleepFor(kPoll);
      after = readState(platform, run, platform.refreshed(element), menuTitle);
      didChange = changed(before, after, r);
    }
  }
  return {report(r, after, didChange), kExitOk};
}

}  // namespace act
