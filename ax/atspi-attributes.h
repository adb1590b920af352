// The AT-SPI backend's attribute table: for each attribute name the core reads, the D-Bus
// requests its answer needs and how those replies become the value. Supporting an attribute is
// one entry here.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ax/atspi-requests.h"
#include "ax/platform.h"

namespace ax {

class Prefetcher;

// The active window as the answers need it: its application's process id, the title the window
// manager shows, its width in root-window pixels, and the toolkit's scale factor found from it.
struct ActiveWindowState {
  int32_t pid = 0;
  std::string title;
  int width = 0;
  double scale = 1.0;
  // That width over the toolkit's own, 0 until calibrateScale has both.
  double ratio = 0;
  // Where the window's content starts on the root window, for a toolkit that gives extents
  // relative to the window (GTK 4), and for telling how a toolkit scales.
  double originX = 0;
  double originY = 0;
  // On Wayland every toolkit gives extents relative to its surface, which starts at the origin.
  bool surfaceRelative = false;
  // On Wayland: the window's content as the compositor places it (see fitSurface).
  std::optional<Rect> content;
  // Qt on Wayland places its window at the top-left corner of the output it takes itself to be on
  // (it cannot know where the compositor put it), so its extents carry that corner: the window's
  // own reported position, taken away from every element's.
  bool reportsOutputCorner = false;
  double reportedX = 0;
  double reportedY = 0;
  // The monitors' top-left corners in root-window pixels, and the point the toolkit scales
  // around: the root's origin, or the corner of the window's monitor (see calibrateScale).
  std::vector<Point> monitorCorners;
  Point scaleCentre{0, 0};
};

// An element's extents in screen pixels: scaled by the active window's factor (except a web
// page's content, see the .cc file) and, for a toolkit that gives them relative to the window,
// moved by the window's place. None while the extents are not in.
std::optional<Rect> screenExtents(const ActiveWindowState& active, Node& node);

// Finds the toolkit's scale factor from the window's reported width (see the .cc file).
void calibrateScale(ActiveWindowState& active, const Node& window);
// On Wayland, moves the origin to where a toolkit that draws its own decorations starts its
// coordinates (see the .cc file).
void fitSurface(ActiveWindowState& active, const Node& window);

// What an answer may use besides the element's own replies.
struct AttributeContext {
  RequestQueue& queue;
  Prefetcher& tree;
  ActiveWindowState& active;
};

struct AttributeRule {
  const char* name;
  // The requests the answer needs, given what is known so far. Some depend on earlier answers
  // (the value's source on the role, the text on its length), so the caller asks again after
  // each round until nothing new is needed.
  std::vector<Call> (*calls)(const Node& node);
  // The answer, from the replies that came in (a failed or missing reply fails the read).
  ReadResult (*value)(AttributeContext& context, const std::shared_ptr<Node>& node);
};

// The requests `name` needs of the node (none for a name the table does not have).
std::vector<Call> callsFor(const Node& node, const std::string& name);
// The answer for `name`: kAttributeUnsupported for a name an element's table does not have, and
// kNoValue for one an application's does not have.
ReadResult valueOf(AttributeContext& context, const std::shared_ptr<Node>& node,
                   const std::string& name);

}  // namespace ax
