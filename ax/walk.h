// The run state of one snapshot and the element walk that fills it.
//
// The walk reads the target application only through Platform, so the whole of it runs against
// the scene fake in tests. All state of one run lives in RunState; the functions below read and
// write it and keep nothing of their own.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ax/platform.h"

namespace ax {

// One entry of the document's "elements".
struct ElementRecord {
  int64_t i = 0;
  std::string role;
  std::string label;
  std::string value;
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;
  bool disabled = false;
  std::string path;  // written only with --paths (see RunState::paths)
};

// The 23 raw roles that can become records, with their short names.
std::map<std::string, std::string> makeRoleNames();

// The attributes the walk reads of every visited element, and those it reads of an element that
// becomes a record; each list goes out as one batched read. Backends that send reads ahead of the
// walk take the lists from here.
extern const std::vector<std::string> kBaseAttributes;
extern const std::vector<std::string> kDetailAttributes;

struct RunState {
  // Limits and flags: defaults, then the command line.
  int64_t maxElements = 300;
  int64_t maxStaticText = 60;
  int64_t maxVisited = 20000;
  int64_t maxDepth = 100;
  double timeBudget = 0.5;
  double settle = 0.0;
  bool debug = false;
  bool wantPrompt = false;
  // The target instead of the frontmost application (--pid, --window), and why the command line
  // could not name one (a value that is no number), which ends the run with status 4.
  std::optional<int32_t> targetPid;
  std::optional<uint64_t> targetWindow;
  std::string targetWindowText;  // as the command line gave it, for messages
  std::string targetError;
  // Each record carries its path: the child indexes from the walked window down to it, joined
  // by ".", or "m" and the indexes from the application's menu bar for the menu-bar pass.
  bool paths = false;
  std::map<std::string, std::string> roleNames = makeRoleNames();

  // Set by the run flow before the walk. `screen` is the area an element must touch to be kept
  // (see `displayArea`).
  Rect screen;
  Element app;
  double tStart = 0;
  Element focused;  // null when the application has no readable focused element
  std::string windowTitle;

  // Walk state.
  std::vector<ElementRecord> elements;
  int64_t visited = 0;
  bool truncated = false;
  int64_t staticCount = 0;
  std::optional<std::string> url;
  std::optional<int64_t> focusedIndex;
  std::map<std::string, int64_t> roleCounts;  // debug runs only
  int64_t childErrors = 0;                    // debug runs only
  std::vector<size_t> pathIndexes;            // of the element being visited (with --paths)
  bool inMenuBar = false;

  void resetWalk();
};

// Attribute reads. attr: the value of a single read, or none when its result code is not 0 (the
// value of a successful read may itself be none). multi: one batched read, exactly one entry per
// name, none for every failed attribute and for all of them when the batch fails as a whole.
std::optional<Value> attr(Platform& platform, const Element& element, const std::string& name);
std::vector<std::optional<Value>> multi(Platform& platform, const Element& element,
                                        const std::vector<std::string>& names);

// True for the values that stand for "no value" inside a batch: the null object and an
// accessibility error.
bool isMissing(const Value& value);
std::string asString(const std::optional<Value>& value);
std::optional<Point> asPoint(const std::optional<Value>& value);
std::optional<Size> asSize(const std::optional<Value>& value);
// The list's entries when the value is a list whose every entry is an element; else null.
const std::vector<Value>* asElementList(const std::optional<Value>& value);
// The element when the value is one; else null.
Element asElement(const std::optional<Value>& value);

// Walks one subtree depth-first and appends its records (the window has depth 0).
// The area the walk keeps elements in: the bounding box of every screen's frame, the first
// screen counted from the origin (its own origin is not used), or a 4096-point square from the
// origin when the system lists no screen. An element that lies wholly outside it is pruned with
// its subtree; one on a second monitor is kept, so it can be clicked from its record.
Rect displayArea(const std::vector<Rect>& screens);

void visit(Platform& platform, RunState& state, const Element& element, int64_t depth);

// What a record says of an element: its short role ("" when the walk makes no record of the
// role), label and value by the walk's rules (clipped, without the limit on static texts).
// Tools that act on an element by its path compare these with what the snapshot printed.
struct RecordText {
  std::string role;
  std::string label;
  std::string value;
  bool disabled = false;
};
RecordText recordText(Platform& platform, const RunState& state, const Element& element,
                      const std::string& rawRole);
// A menu-bar title's label, as the menu-bar pass gives it.
std::string menuTitleLabel(const std::string& title);
// The path of the element being visited (see RunState::paths).
std::string currentPath(const RunState& state);
// The child indexes of a path ("0.3.1", "m.2.0"); none when the text is not a path.
struct ParsedPath {
  bool menuBar = false;
  std::vector<size_t> indexes;
};
std::optional<ParsedPath> parsePath(const std::string& text);
// Emits one "menu" record per menu-bar title of the application and walks each title's menu.
void menuBarPass(Platform& platform, RunState& state);

}  // namespace ax
