#include "ax/platform-atspi.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <atspi/atspi-constants.h>
#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "ax/atspi-bus.h"
#include "ax/atspi-roles.h"
#include "ax/platform-system.h"
#include "ax/walk.h"

namespace ax {
namespace {

// ---- Ownership of GLib, GIO and Xlib results -----------------------------------------------

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct DisplayClose {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
struct XFreeDeleter {
  void operator()(void* p) const { XFree(p); }
};

using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr int kDefaultTimeoutMs = 600;
constexpr int kMaxWalkDepth = 100;      // the walk's own depth limit; also ends a cycle
constexpr int32_t kMaxVisited = 20000;  // the walk's own limit on visited elements
// Text is clipped to 120 characters in the snapshot; reading a few thousand keeps long documents
// cheap while leaving clipping (and its ellipsis) to the core.
constexpr int32_t kMaxTextCharacters = 4000;
// ---- One element: its D-Bus address and what has been fetched for it ------------------------

// The D-Bus requests one element can need. Each is sent at most once per run; its answer (or
// its failure) is kept, so later reads of the same element cost nothing.
enum Call {
  kGetRole,
  kGetState,
  kGetExtents,
  kGetChildren,
  kChildCount,
  kChildAtIndex,  // asked of the parent: the address of the child at the node's index
  kName,
  kDescription,
  kAttributes,
  kCharacterCount,
  kGetText,
  kCurrentValue,
  kDocumentAttributes,
  kToolkitName,
  kToolkitVersion,
  kProcessId,  // asked of the bus daemon about the element's connection
  kCallCount,
};

struct Slot {
  enum class State { kEmpty, kPending, kDone, kFailed };
  State state = State::kEmpty;
  VariantPtr reply;  // the reply's body tuple, on kDone
};

struct Node {
  std::string bus;
  std::string path;
  int parentRole = -1;  // role of the object it was listed under, -1 when unknown
  int32_t pid = 0;      // the owning application's process id, when known
  bool application = false;
  // GTK 4 (4.8 at least) reports extents relative to its window and sets SHOWING only on the
  // window itself: its elements count as shown when VISIBLE, and their extents are moved by the
  // window's place on the screen.
  bool windowRelative = false;
  // The registry's root: its children are the applications, listed for their bus names only.
  bool registry = false;
  // Set when the walk is known to come here: its record's reads go out as soon as the answers
  // they depend on (role, states, text length) are in.
  bool prefetchDetails = false;
  std::weak_ptr<Node> parent;  // the element it was listed under
  // Children of a wide element are listed by index, not by address (see childrenOf): such a
  // child's path stays empty until GetChildAtIndex answers.
  int32_t index = -1;
  double scale = 0;  // the factor its extents take to screen pixels, once known (see scaleOf)
  int depth = 0;     // levels below the window list, which bounds the read-ahead
  int32_t readAheadUpTo = 0;  // children of a wide element queued for the read-ahead so far
  bool queued = false;        // in the read-ahead queue already (or read)
  std::array<Slot, kCallCount> slots;
  std::optional<std::vector<Element>> children;  // built once from the GetChildren answer
};

// A reference the core holds. `node` is shared with every copy of the reference, so what one
// read fetched serves the next. A reference without a node stands for "the focused element":
// AT-SPI has no cheap way to ask an application for it, while every candidate's own FOCUSED
// state comes with the read that makes it a candidate.
class AtspiElement : public ElementRef {
 public:
  explicit AtspiElement(std::shared_ptr<Node> n) : node(std::move(n)) {}
  const std::shared_ptr<Node> node;
};

const AtspiElement* asAtspi(const Element& e) {
  return dynamic_cast<const AtspiElement*>(e.get());
}

// ---- Reading replies -------------------------------------------------------------------------

GVariant* replyOf(const Node& n, Call c) {
  const Slot& s = n.slots[c];
  return s.state == Slot::State::kDone ? s.reply.get() : nullptr;
}

std::optional<uint32_t> roleOf(const Node& n) {
  GVariant* r = replyOf(n, kGetRole);
  if (!r) return std::nullopt;
  uint32_t role = 0;
  g_variant_get(r, "(u)", &role);
  return role;
}

std::optional<AtspiStates> statesOf(const Node& n) {
  GVariant* r = replyOf(n, kGetState);
  if (!r) return std::nullopt;
  VariantPtr words(g_variant_get_child_value(r, 0));
  gsize count = 0;
  const uint32_t* w = static_cast<const uint32_t*>(
      g_variant_get_fixed_array(words.get(), &count, sizeof(uint32_t)));
  AtspiStates states;
  if (count > 0) states.bits |= w[0];
  if (count > 1) states.bits |= static_cast<uint64_t>(w[1]) << 32;
  return states;
}

// The value inside a property reply "(v)".
VariantPtr unboxed(GVariant* reply) {
  GVariant* inner = nullptr;
  g_variant_get(reply, "(v)", &inner);
  return VariantPtr(inner);
}

// The text of a property reply "(v)" holding a string.
std::optional<std::string> stringProperty(const Node& n, Call c) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_STRING)) return std::nullopt;
  return std::string(g_variant_get_string(inner.get(), nullptr));
}

std::optional<std::string> dictionaryEntry(const Node& n, Call c, const char* key) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr dict(g_variant_get_child_value(r, 0));
  const char* value = nullptr;
  if (!g_variant_lookup(dict.get(), key, "&s", &value)) return std::nullopt;
  return std::string(value);
}

// The number in a property reply "(v)" holding an int32 (CharacterCount, ChildCount).
std::optional<int32_t> intProperty(const Node& n, Call c) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
  return g_variant_get_int32(inner.get());
}

std::optional<double> currentValue(const Node& n) {
  GVariant* r = replyOf(n, kCurrentValue);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_DOUBLE)) return std::nullopt;
  return g_variant_get_double(inner.get());
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

std::string axRoleOf(const Node& n) {
  if (n.application) return "AXApplication";
  std::optional<uint32_t> role = roleOf(n);
  if (!role) return "";
  return axRoleFor(static_cast<int>(*role), n.parentRole, statesOf(n).value_or(AtspiStates{}));
}

bool hiddenNode(const Node& n) {
  if (n.application) return false;
  std::optional<AtspiStates> states = statesOf(n);
  if (states && n.windowRelative && states->has(ATSPI_STATE_VISIBLE)) return false;
  return states && isHidden(*states);
}

// ---- X11 -------------------------------------------------------------------------------------

// A Wayland session, as its compositor announces it to the programs it starts.
bool waylandSession() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (wayland && *wayland) || (type && std::string_view(type) == "wayland");
}

// Xlib's default error handler ends the process; a window can vanish between two requests, and
// such a failure must only mean "no value".
int ignoreXError(Display*, XErrorEvent*) {
  return 0;
}

std::optional<std::vector<unsigned char>> windowProperty(Display* d, Window w, const char* name,
                                                         Atom type, int* format = nullptr) {
  Atom atom = XInternAtom(d, name, True);
  if (atom == None) return std::nullopt;
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0, after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(d, w, atom, 0, 4096, False, type, &actualType, &actualFormat, &count,
                         &after, &raw) != Success) {
    return std::nullopt;
  }
  std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
  if (!data || actualType == None || count == 0) return std::nullopt;
  if (format) *format = actualFormat;
  // Format 32 items are longs in Xlib's memory, whatever their width on the wire.
  size_t bytes = actualFormat == 32   ? count * sizeof(long)
                 : actualFormat == 16 ? count * sizeof(short)
                                      : count;
  return std::vector<unsigned char>(data.get(), data.get() + bytes);
}

std::optional<unsigned long> cardinalProperty(Display* d, Window w, const char* name, Atom type) {
  int format = 0;
  auto bytes = windowProperty(d, w, name, type, &format);
  if (!bytes || format != 32 || bytes->size() < sizeof(long)) return std::nullopt;
  long value = 0;
  std::copy_n(bytes->data(), sizeof(long), reinterpret_cast<unsigned char*>(&value));
  return static_cast<unsigned long>(value);
}

std::optional<std::string> textProperty(Display* d, Window w, const char* name, Atom type) {
  auto bytes = windowProperty(d, w, name, type);
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  return text;
}

}  // namespace

// ---- The backend -----------------------------------------------------------------------------

class AtspiPlatform::Impl {
 public:
  Impl() { previousXErrorHandler_ = XSetErrorHandler(ignoreXError); }

  ~Impl() {
    // Calls still in flight (answers nobody waited for) are dropped with their connection.
    pending_.clear();
    a11y_.reset();
    session_.reset();
    display_.reset();
    XSetErrorHandler(previousXErrorHandler_);
  }

  // -- Trust ---------------------------------------------------------------------------------

  bool statusEnabled() {
    BusWire* bus = session();
    if (!bus) return false;
    VariantPtr reply(bus->callSync("org.a11y.Bus", "/org/a11y/bus", kProperties, "Get",
                                   g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"),
                                   kDefaultTimeoutMs * 4, true));
    if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(v)"))) return false;
    VariantPtr inner = unboxed(reply.get());
    return inner && g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_BOOLEAN) &&
           g_variant_get_boolean(inner.get());
  }

  // In a Wayland session windows do not know where they lie on the screen, and X11 sees only
  // XWayland's windows: records would carry wrong centres. The run stops at the trust check.
  bool trusted() { return !waylandSession() && statusEnabled() && a11y() != nullptr; }

  bool trustedWithPrompt() {
    if (BusWire* bus = session()) {
      VariantPtr reply(bus->callSync(
          "org.a11y.Bus", "/org/a11y/bus", kProperties, "Set",
          g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
          kDefaultTimeoutMs * 4, true));
    }
    return trusted();
  }

  // -- Frontmost application -----------------------------------------------------------------

  std::optional<FrontmostApplication> frontmost() {
    if (!a11y()) return std::nullopt;
    if (Display* d = display()) {
      Window root = DefaultRootWindow(d);
      auto active = cardinalProperty(d, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
      if (active && *active != 0) {
        Window w = static_cast<Window>(*active);
        auto pid = cardinalProperty(d, w, "_NET_WM_PID", XA_CARDINAL);
        if (pid && *pid > 0) return fromActiveWindow(d, w, static_cast<int32_t>(*pid));
      }
    }
    return fromActiveFrame();
  }

  Element application(int32_t pid) {
    for (const Element& app : applications()) {
      const auto& node = asAtspi(app)->node;
      if (node->pid == pid) return app;
    }
    // No accessible application with that process: an element whose every read fails.
    auto node = std::make_shared<Node>();
    node->application = true;
    node->pid = pid;
    return std::make_shared<AtspiElement>(node);
  }

  std::vector<Rect> monitors() {
    if (!monitors_) monitors_ = readMonitors(display());
    return *monitors_;
  }

  // The system's screens: X11's first screen is the root window, which spans every monitor
  // (XRandR places them side by side in it). Its frame is what the walk prunes against, so an
  // application on a second monitor keeps its records, and their centres are root-window pixels,
  // the points a click uses. The monitors themselves are not screens of their own on X11.
  static std::vector<Rect> readMonitors(Display* d) {
    if (!d) return {};
    int screen = DefaultScreen(d);
    return {Rect{0, 0, static_cast<double>(DisplayWidth(d, screen)),
                 static_cast<double>(DisplayHeight(d, screen))}};
  }

  void setTimeout(float seconds) {
    if (std::isfinite(seconds) && seconds > 0) {
      timeoutMs_ = static_cast<int>(std::min(3600.0f, seconds) * 1000.0f);
      if (timeoutMs_ < 1) timeoutMs_ = 1;
    }
  }

  // -- Attribute reads -----------------------------------------------------------------------

  BatchResult readBatch(const Element& element, const std::vector<std::string>& names) {
    const AtspiElement* e = asAtspi(element);
    BatchResult result;
    if (!e || !e->node || e->node->bus.empty()) {
      result.code = kNoValue;
      return result;
    }
    Node& node = *e->node;
    walkedTo(e->node);
    fetchFor(e->node, names);
    // A batch whose element did not answer at all fails as a whole, as one failed request would.
    if (!node.application && node.slots[kGetRole].state == Slot::State::kFailed &&
        node.slots[kGetState].state == Slot::State::kFailed) {
      result.code = kNoValue;
      return result;
    }
    std::vector<std::optional<Value>> values;
    values.reserve(names.size());
    for (const std::string& name : names) {
      ReadResult one = valueOf(e->node, name);
      values.push_back(one.code == kSuccess && one.value ? std::move(one.value)
                                                         : std::optional<Value>(Value::null()));
    }
    result.values = std::move(values);
    return result;
  }

  ReadResult readOne(const Element& element, const std::string& name) {
    const AtspiElement* e = asAtspi(element);
    if (!e || !e->node || e->node->bus.empty()) return ReadResult{kNoValue, std::nullopt};
    fetchFor(e->node, {name});
    return valueOf(e->node, name);
  }

  bool equal(const Element& a, const Element& b) {
    const AtspiElement* x = asAtspi(a);
    const AtspiElement* y = asAtspi(b);
    if (!x || !y) return false;
    if (!x->node && !y->node) return true;
    if (!x->node || !y->node) {
      const std::shared_ptr<Node>& other = x->node ? x->node : y->node;
      if (other->application || other->bus.empty()) return false;
      fetch({other}, kGetState);
      std::optional<AtspiStates> states = statesOf(*other);
      return states && states->has(ATSPI_STATE_FOCUSED);
    }
    return x->node->bus == y->node->bus && x->node->path == y->node->path;
  }

 private:
  // -- Connections ---------------------------------------------------------------------------

  BusWire* session() {
    if (!sessionTried_) {
      sessionTried_ = true;
      // The session bus the environment names, else the systemd user bus. Never GLib's own
      // fallback: without an address it launches a new bus, which a snapshot must not do.
      std::string address;
      if (const char* named = std::getenv("DBUS_SESSION_BUS_ADDRESS"); named && *named) {
        address = named;
      } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::string socket = std::string(runtime) + "/bus";
        if (g_file_test(socket.c_str(), G_FILE_TEST_EXISTS)) address = "unix:path=" + socket;
      }
      if (!address.empty()) session_ = BusWire::connect(address, kDefaultTimeoutMs * 4);
    }
    return session_.get();
  }

  BusWire* a11y() {
    if (!a11yTried_) {
      a11yTried_ = true;
      // The same order libatspi follows: the explicit address, else ask the session's launcher.
      const char* explicitAddress = std::getenv("AT_SPI_BUS_ADDRESS");
      if (explicitAddress && *explicitAddress) {
        a11y_ = BusWire::connect(explicitAddress, kDefaultTimeoutMs * 4);
      } else if (BusWire* bus = session()) {
        VariantPtr reply(bus->callSync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                       "GetAddress", nullptr, kDefaultTimeoutMs * 4, true));
        if (reply && g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(s)"))) {
          const char* address = nullptr;
          g_variant_get(reply.get(), "(&s)", &address);
          if (address && *address) a11y_ = BusWire::connect(address, kDefaultTimeoutMs * 4);
        }
      }
    }
    return a11y_.get();
  }

  Display* display() {
    if (!displayTried_) {
      displayTried_ = true;
      display_.reset(XOpenDisplay(nullptr));
    }
    return display_.get();
  }

  // -- Asynchronous calls --------------------------------------------------------------------

  // A request on its way: whose answer it is, and the reply type it must have (nullptr: any).
  struct Pending {
    std::shared_ptr<Node> node;
    Call call;
    const char* replyType;
  };

  void onReply(BusWire::Answer answer) {
    VariantPtr reply(answer.body);
    auto found = pending_.find(answer.serial);
    if (found == pending_.end()) return;
    Pending p = std::move(found->second);
    pending_.erase(found);
    if (reply && p.replyType && !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(p.replyType))) {
      reply.reset();
    }
    if (!reply) ++failures_;
    Slot& slot = p.node->slots[p.call];
    slot.state = reply ? Slot::State::kDone : Slot::State::kFailed;
    slot.reply = std::move(reply);
    if (slot.state != Slot::State::kDone) return;
    if (p.call == kChildAtIndex && !resolve(*p.node)) return;
    if (!p.node->prefetchDetails) return;
    switch (p.call) {
      case kChildAtIndex:
      case kGetState:
        readAhead(p.node);
        break;
      case kGetRole:
      case kGetExtents:
      case kCharacterCount:
        issueDetails(p.node);
        [[fallthrough]];
      case kGetChildren:
      case kChildCount:
        queueChildren(p.node);
        break;
      default:
        break;
    }
  }

  // Takes the address a GetChildAtIndex answer gives. A child that went away meanwhile (the null
  // object) leaves an element whose every read fails.
  bool resolve(Node& node) {
    const char* bus = nullptr;
    const char* path = nullptr;
    g_variant_get(replyOf(node, kChildAtIndex), "((&s&o))", &bus, &path);
    if (std::string_view(path) == "/org/a11y/atspi/null" || !*path) {
      node.bus.clear();
      return false;
    }
    if (*bus) node.bus = bus;
    node.path = path;
    return true;
  }

  // Sends the request for `call` unless it was sent before. Returns whether it went out now.
  bool issue(const std::shared_ptr<Node>& node, Call call) {
    Slot& slot = node->slots[call];
    if (slot.state != Slot::State::kEmpty) return false;
    BusWire* bus = a11y();
    if (!bus || node->bus.empty() || stalls_ >= kMaxStalls) {
      slot.state = Slot::State::kFailed;
      return false;
    }
    std::shared_ptr<Node> parent = node->parent.lock();
    if (node->path.empty() && call != kChildAtIndex) {
      // The child's address comes first; the call goes out once it is known (see fetchFor).
      issue(node, kChildAtIndex);
      if (node->slots[kChildAtIndex].state == Slot::State::kFailed)
        slot.state = Slot::State::kFailed;
      return false;
    }
    const char* destination = node->bus.c_str();
    const char* path = node->path.c_str();
    const char* iface = kAccessible;
    const char* method = nullptr;
    GVariant* params = nullptr;
    const char* replyType = "(v)";
    switch (call) {
      case kGetRole:
        method = "GetRole", replyType = "(u)";
        break;
      case kGetState:
        method = "GetState", replyType = "(au)";
        break;
      case kGetExtents:
        iface = "org.a11y.atspi.Component", method = "GetExtents", replyType = "((iiii))";
        params = g_variant_new("(u)", static_cast<uint32_t>(ATSPI_COORD_TYPE_SCREEN));
        break;
      case kGetChildren:
        method = "GetChildren", replyType = "(a(so))";
        break;
      case kChildCount:
        iface = kProperties, method = "Get";
        params = g_variant_new("(ss)", kAccessible, "ChildCount");
        break;
      case kChildAtIndex:
        if (!parent || parent->path.empty()) {
          slot.state = Slot::State::kFailed;
          return false;
        }
        path = parent->path.c_str();
        method = "GetChildAtIndex", replyType = "((so))";
        params = g_variant_new("(i)", node->index);
        break;
      case kName:
      case kDescription:
        iface = kProperties, method = "Get";
        params = g_variant_new("(ss)", kAccessible, call == kName ? "Name" : "Description");
        break;
      case kAttributes:
        method = "GetAttributes", replyType = "(a{ss})";
        break;
      case kCharacterCount:
        iface = kProperties, method = "Get";
        params = g_variant_new("(ss)", "org.a11y.atspi.Text", "CharacterCount");
        break;
      case kGetText: {
        iface = "org.a11y.atspi.Text", method = "GetText", replyType = "(s)";
        int32_t count =
            std::min(intProperty(*node, kCharacterCount).value_or(0), kMaxTextCharacters);
        params = g_variant_new("(ii)", 0, count);
        break;
      }
      case kCurrentValue:
        iface = kProperties, method = "Get";
        params = g_variant_new("(ss)", "org.a11y.atspi.Value", "CurrentValue");
        break;
      case kDocumentAttributes:
        iface = "org.a11y.atspi.Document", method = "GetAttributes", replyType = "(a{ss})";
        break;
      case kToolkitName:
      case kToolkitVersion:
        // One property at a time: Qt 6.4 ends the application on a GetAll of this interface.
        iface = kProperties, method = "Get";
        params = g_variant_new("(ss)", "org.a11y.atspi.Application",
                               call == kToolkitName ? "ToolkitName" : "Version");
        break;
      case kProcessId:
        destination = "org.freedesktop.DBus", path = "/org/freedesktop/DBus";
        iface = "org.freedesktop.DBus", method = "GetConnectionUnixProcessID", replyType = "(u)";
        params = g_variant_new("(s)", node->bus.c_str());
        break;
      case kCallCount:
        return false;
    }
    uint32_t serial = bus->call(destination, path, iface, method, params, timeoutMs_);
    if (serial == 0) {
      slot.state = Slot::State::kFailed;
      return false;
    }
    slot.state = Slot::State::kPending;
    pending_[serial] = Pending{node, call, replyType};
    return true;
  }

  bool anyPending(const Node& n) const {
    return std::any_of(n.slots.begin(), n.slots.end(),
                       [](const Slot& s) { return s.state == Slot::State::kPending; });
  }

  void await(const std::vector<std::shared_ptr<Node>>& nodes) {
    for (const auto& n : nodes) {
      while (anyPending(*n)) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<BusWire::Answer> answers =
            a11y_ && stalls_ < kMaxStalls ? a11y_->wait() : std::vector<BusWire::Answer>{};
        if (answers.empty()) {
          // Nothing more can come (the connection is gone, or the application stopped
          // answering): what is outstanding has failed.
          for (auto& [serial, p] : pending_) p.node->slots[p.call].state = Slot::State::kFailed;
          pending_.clear();
          break;
        }
        const size_t failuresBefore = failures_;
        for (BusWire::Answer& a : answers) onReply(a);
        // A wait that ended in a timeout: after a few of them the run stops waiting for the
        // application at all, so that a hung one costs a bounded time, not 0.6 s per request.
        if (failures_ > failuresBefore && std::chrono::steady_clock::now() - start >=
                                              std::chrono::milliseconds(timeoutMs_ * 9 / 10)) {
          ++stalls_;
        }
        pump();
      }
    }
  }

  // Sends a failed request again for the given elements and waits for it. False when no retry
  // is left or none of them had failed.
  bool again(const std::vector<std::shared_ptr<Node>>& nodes, Call call) {
    if (retries_ >= kRetries || stalls_ >= kMaxStalls) return false;
    bool any = false;
    for (const auto& n : nodes) {
      Slot& slot = n->slots[call];
      if (slot.state != Slot::State::kFailed) continue;
      slot.state = Slot::State::kEmpty;
      any = issue(n, call) || any;
    }
    if (!any) return false;
    ++retries_;
    await(nodes);
    return true;
  }

  // The same request for several elements, in flight together.
  void fetch(const std::vector<std::shared_ptr<Node>>& nodes, Call call) {
    for (const auto& n : nodes) issue(n, call);
    await(nodes);
  }

  // The requests an attribute needs, given what is known so far. Some depend on earlier answers
  // (the value's source on the role, the text on its length), so fetchFor asks again after each
  // round until nothing new is needed.
  std::vector<Call> callsFor(const Node& n, const std::string& name) {
    if (n.application) {
      if (name == "AXTitle") return {kName};
      if (name == "AXChildren" || name == "AXWindows" || name == "AXFocusedWindow") {
        return {kGetChildren};
      }
      return {};
    }
    if (name == "AXRole") return {kGetRole, kGetState};
    // A hidden object answers no position, size or children: nothing to ask once that is known.
    bool hidden = n.slots[kGetState].state == Slot::State::kDone && hiddenNode(n);
    if (name == "AXPosition" || name == "AXSize") {
      return hidden ? std::vector<Call>{} : std::vector<Call>{kGetExtents, kGetState};
    }
    if (name == "AXChildren") {
      if (hidden || n.slots[kGetChildren].state == Slot::State::kDone) return {};
      switch (n.slots[kChildCount].state) {
        case Slot::State::kDone:
          if (intProperty(n, kChildCount).value_or(0) > kListedChildren) return {kGetState};
          return {kGetChildren, kGetState};
        case Slot::State::kFailed:
          return {kGetChildren, kGetState};
        default:
          return {kChildCount, kGetState};
      }
    }
    if (name == "AXTitle") return {kName, kGetRole, kGetState};
    if (name == "AXDescription") return {kDescription};
    if (name == "AXEnabled") return {kGetState};
    if (name == "AXURL") return {kDocumentAttributes};
    if (name == "AXPlaceholderValue" || name == "AXValue") {
      if (n.slots[kGetRole].state != Slot::State::kDone) return {kGetRole, kGetState};
      std::string axRole = axRoleOf(n);
      if (name == "AXPlaceholderValue") {
        return hasPlaceholder(axRole) ? std::vector<Call>{kAttributes} : std::vector<Call>{};
      }
      switch (valueSourceFor(static_cast<int>(*roleOf(n)), axRole)) {
        case ValueSource::kText:
          if (n.slots[kCharacterCount].state == Slot::State::kFailed) return {kName};
          if (n.slots[kCharacterCount].state != Slot::State::kDone) return {kCharacterCount};
          return intProperty(n, kCharacterCount).value_or(0) > 0 ? std::vector<Call>{kGetText}
                                                                 : std::vector<Call>{};
        case ValueSource::kChecked:
          return {kGetState};
        case ValueSource::kNumber:
          return {kCurrentValue};
        case ValueSource::kNone:
          return {};
      }
    }
    return {};
  }

  void fetchFor(const std::shared_ptr<Node>& node, const std::vector<std::string>& names) {
    for (;;) {
      bool sent = false;
      for (const std::string& name : names) {
        for (Call c : callsFor(*node, name)) sent = issue(node, c) || sent;
      }
      // Calls sent earlier (by a prefetch) may still be on their way: wait for them too.
      bool waiting = anyPending(*node);
      if (!sent && !waiting) break;
      await({node});
    }
  }

  // The element's children, made once, so that every copy of the list shares their nodes. Most
  // elements list them with one GetChildren; a wide one (a table of thousands of rows) would keep
  // the application busy building every child's reference (Chromium: about 0.1 ms each), so its
  // children are made from its ChildCount and each asks for its own address when first read.
  const std::vector<Element>* childrenOf(const std::shared_ptr<Node>& node) {
    if (node->children) return &*node->children;
    std::optional<uint32_t> role = roleOf(*node);
    const int parentRole = node->application ? ATSPI_ROLE_APPLICATION : role ? int(*role) : -1;
    auto makeChild = [&](const char* bus, std::string path) {
      auto child = std::make_shared<Node>();
      child->bus = bus && *bus ? bus : node->bus;
      child->path = std::move(path);
      child->parentRole = parentRole;
      child->pid = node->pid;
      child->windowRelative = node->windowRelative;
      child->depth = node->depth + 1;
      child->parent = node;
      return child;
    };
    std::vector<Element> list;
    if (GVariant* r = replyOf(*node, kGetChildren)) {
      VariantPtr array(g_variant_get_child_value(r, 0));
      GVariantIter iter;
      g_variant_iter_init(&iter, array.get());
      const char* bus = nullptr;
      const char* path = nullptr;
      while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path)) {
        // Toolkits list the null object for a child that went away meanwhile.
        if (std::string_view(path) == "/org/a11y/atspi/null") continue;
        list.push_back(std::make_shared<AtspiElement>(makeChild(bus, path)));
      }
    } else if (std::optional<int32_t> count = intProperty(*node, kChildCount);
               count && *count > kListedChildren) {
      // A spreadsheet reports every cell of its sheet (LibreOffice Calc: 2^31 - 1). The walk
      // visits at most kMaxVisited elements in all, so a longer list cannot be told apart.
      const int32_t listed = std::min(*count, kMaxVisited + 1);
      list.reserve(static_cast<size_t>(listed));
      for (int32_t i = 0; i < listed; ++i) {
        auto child = makeChild(nullptr, "");
        child->index = i;
        list.push_back(std::make_shared<AtspiElement>(std::move(child)));
      }
    } else {
      return nullptr;
    }
    node->children = std::move(list);
    return &*node->children;
  }

  // The reads a record needs (title, description, placeholder, value, enabled), sent ahead of the
  // walk for an element whose role makes it a likely record: otherwise each would be a round trip
  // of its own while the application sits idle. Nothing goes out before the role and states are
  // known (a hidden object is never asked), and the text goes out once its length is known.
  void issueDetails(const std::shared_ptr<Node>& node) {
    if (node->application || node->slots[kGetRole].state != Slot::State::kDone ||
        node->slots[kGetState].state != Slot::State::kDone || hiddenNode(*node) ||
        !placedOnScreen(*node)) {
      return;
    }
    if (!recordRoles_.contains(axRoleOf(*node))) return;
    for (const std::string& name : kDetailNames) {
      for (Call c : callsFor(*node, name)) issue(node, c);
    }
  }

  // -- Reading ahead of the walk ---------------------------------------------------------------

  // The walk reads every element's role, states, extents and children, one element after the
  // other, and the details of likely records. Asking for them only when the walk gets there would
  // leave the application idle between our questions; asking for a whole window at once would
  // make the walk's next question wait behind thousands of others. So the reads of the elements
  // the walk is expected to meet next go out ahead of it, in its order (depth first), while no
  // more than kReadAhead calls are on their way: the application never holds a long queue, and
  // the walk's own calls (which are sent at once) wait behind at most that many.
  static constexpr size_t kReadAhead = 96;
  // Children of a wide element are read ahead this many at a time, as the walk moves along them.
  static constexpr int32_t kWideWindow = 48;
  // Above this many children an element's children are read by index (see childrenOf).
  static constexpr int32_t kListedChildren = 64;

  // Queues the children of an element whose list is known, unless nothing under it can give a
  // record: hidden, or lying wholly off the first screen.
  void queueChildren(const std::shared_ptr<Node>& node) {
    Node& n = *node;
    if (n.slots[kGetState].state != Slot::State::kDone || hiddenNode(n) || !placedOnScreen(n)) {
      return;
    }
    if (n.slots[kGetChildren].state == Slot::State::kEmpty &&
        n.slots[kChildCount].state == Slot::State::kDone &&
        intProperty(n, kChildCount).value_or(0) <= kListedChildren) {
      issue(node, kGetChildren);
      return;
    }
    if (n.depth > kMaxWalkDepth || !childrenOf(node)) return;
    queueWindow(*node, 0);
  }

  // Puts the children of `parent` from `from` on (a window of them for a wide element) at the
  // front of the queue, in order: the walk goes depth first, so they come before anything queued
  // earlier.
  void queueWindow(Node& parent, int32_t from) {
    const std::vector<Element>& children = *parent.children;
    const int32_t size = static_cast<int32_t>(children.size());
    int32_t to = size;
    if (size > kListedChildren) {
      to = std::min(size, from + kWideWindow);
      if (to <= parent.readAheadUpTo) return;
      from = std::max(from, parent.readAheadUpTo);
      parent.readAheadUpTo = to;
    }
    for (int32_t i = to - 1; i >= from; --i) {
      const auto& child = asAtspi(children[static_cast<size_t>(i)])->node;
      if (child->queued) continue;
      child->queued = true;
      readAheadQueue_.push_front(child);
    }
    pump();
  }

  // Sends queued reads while fewer than kReadAhead calls are on their way.
  void pump() {
    while (!readAheadQueue_.empty() && pending_.size() < kReadAhead) {
      std::shared_ptr<Node> node = std::move(readAheadQueue_.front());
      readAheadQueue_.pop_front();
      node->prefetchDetails = true;
      readAhead(node);
    }
  }

  void readAhead(const std::shared_ptr<Node>& node) {
    if (node->path.empty()) {
      issue(node, kChildAtIndex);
      return;
    }
    // Role and states first: a hidden element (closed menus hold hundreds) needs nothing more.
    issue(node, kGetRole);
    issue(node, kGetState);
    if (node->slots[kGetState].state != Slot::State::kDone || hiddenNode(*node)) return;
    issue(node, kGetExtents);
    if (node->slots[kGetChildren].state == Slot::State::kEmpty) issue(node, kChildCount);
    issueDetails(node);
    queueChildren(node);
  }

  // The walk reached `node`: a wide parent's next children are read ahead as it moves along.
  void walkedTo(const std::shared_ptr<Node>& node) {
    node->queued = true;
    if (node->index < 0) return;
    if (std::shared_ptr<Node> parent = node->parent.lock(); parent && parent->children) {
      queueWindow(*parent, node->index + 1);
    }
  }

  // Whether the element's extents have come back and do not put it wholly off the first screen
  // (the walk's pruning): nothing under a pruned element is read ahead, nor are its details.
  // Failed extents do not prune.
  bool placedOnScreen(Node& n) {
    if (n.slots[kGetExtents].state == Slot::State::kFailed) return true;
    std::optional<Rect> e = screenExtents(n);
    if (!e) return false;
    const std::vector<Rect> screens = monitors();
    if (screens.empty()) return true;
    const Rect& screen = screens.front();
    return !(e->w > 0 && e->h > 0 &&
             (e->x + e->w <= 0 || e->y + e->h <= 0 || screen.w <= e->x || screen.h <= e->y));
  }

  static std::vector<std::shared_ptr<Node>> nodesOf(const std::vector<Element>& list) {
    std::vector<std::shared_ptr<Node>> nodes;
    for (const Element& e : list) nodes.push_back(asAtspi(e)->node);
    return nodes;
  }

  // -- Answers -------------------------------------------------------------------------------

  static ReadResult fail() { return ReadResult{kNoValue, std::nullopt}; }
  static ReadResult ok(Value v) { return ReadResult{kSuccess, std::move(v)}; }

  ReadResult valueOf(const std::shared_ptr<Node>& node, const std::string& name) {
    Node& n = *node;
    if (n.application) return applicationValue(node, name);
    bool hidden = hiddenNode(n);
    if (name == "AXRole") {
      if (!roleOf(n)) return fail();
      return ok(Value::ofText(axRoleOf(n)));
    }
    if (name == "AXPosition" || name == "AXSize") {
      std::optional<Rect> e = screenExtents(n);
      if (hidden || !e) return fail();
      if (name == "AXPosition") return ok(Value::ofPoint(e->x, e->y));
      return ok(Value::ofSize(e->w, e->h));
    }
    if (name == "AXChildren") {
      // A hidden object's subtree is hidden too; an empty list ends the walk there.
      if (hidden) return ok(Value::ofList({}));
      const std::vector<Element>* children = childrenOf(node);
      if (!children) return fail();
      // The walk goes into these children next.
      if (!children->empty()) queueWindow(n, 0);
      std::vector<Value> list;
      for (const Element& c : *children) list.push_back(Value::ofElement(c));
      return ok(Value::ofList(std::move(list)));
    }
    if (name == "AXTitle") {
      // Static text carries its text as the value, not as a title.
      if (axRoleOf(n) == "AXStaticText") return fail();
      std::optional<std::string> title = stringProperty(n, kName);
      if (title && title->empty() && n.parentRole == ATSPI_ROLE_APPLICATION &&
          n.pid == activePid_ && !activeWindowTitle_.empty()) {
        // GTK leaves a window's accessible name empty; the window manager's title is the one
        // the user sees.
        title = activeWindowTitle_;
      }
      if (!title) return fail();
      return ok(Value::ofText(*title));
    }
    if (name == "AXDescription") {
      std::optional<std::string> d = stringProperty(n, kDescription);
      return d ? ok(Value::ofText(*d)) : fail();
    }
    if (name == "AXPlaceholderValue") {
      std::optional<std::string> p = dictionaryEntry(n, kAttributes, "placeholder-text");
      return p ? ok(Value::ofText(*p)) : fail();
    }
    if (name == "AXEnabled") {
      std::optional<AtspiStates> s = statesOf(n);
      return s ? ok(Value::ofBoolean(isEnabled(*s))) : fail();
    }
    if (name == "AXValue") return valueAttribute(n);
    if (name == "AXURL") {
      std::optional<std::string> url = dictionaryEntry(n, kDocumentAttributes, "URI");
      if (!url) url = dictionaryEntry(n, kDocumentAttributes, "DocURL");
      return url ? ok(Value::ofUrl(*url)) : fail();
    }
    return ReadResult{kAttributeUnsupported, std::nullopt};
  }

  ReadResult valueAttribute(const Node& n) {
    std::optional<uint32_t> role = roleOf(n);
    if (!role) return fail();
    switch (valueSourceFor(static_cast<int>(*role), axRoleOf(n))) {
      case ValueSource::kText: {
        std::optional<int32_t> count = intProperty(n, kCharacterCount);
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

  ReadResult applicationValue(const std::shared_ptr<Node>& node, const std::string& name) {
    Node& n = *node;
    if (name == "AXRole") return ok(Value::ofText("AXApplication"));
    if (name == "AXTitle") {
      std::optional<std::string> t = stringProperty(n, kName);
      return t ? ok(Value::ofText(*t)) : fail();
    }
    if (name == "AXFocusedUIElement") {
      return ok(Value::ofElement(std::make_shared<AtspiElement>(nullptr)));
    }
    if (name == "AXChildren" || name == "AXWindows" || name == "AXFocusedWindow") {
      // An application busy with a large page can let these first requests time out. Without
      // them the snapshot would hold no window, which reads like an application without one, so
      // they are asked again (at most kRetries times in a run, within the stall limit).
      const std::vector<Element>* windows = childrenOf(node);
      while (!windows && again({node}, kGetChildren)) windows = childrenOf(node);
      if (!windows) return fail();
      if (name == "AXChildren") {
        std::vector<Value> list;
        for (const Element& w : *windows) list.push_back(Value::ofElement(w));
        return ok(Value::ofList(std::move(list)));
      }
      std::vector<std::shared_ptr<Node>> nodes = nodesOf(*windows);
      for (const auto& w : nodes) issue(w, kGetState);
      for (const auto& w : nodes) issue(w, kGetExtents);
      await(nodes);
      auto answered = [](const std::shared_ptr<Node>& w) { return statesOf(*w).has_value(); };
      while (std::none_of(nodes.begin(), nodes.end(), answered) && again(nodes, kGetState)) {
      }
      std::vector<Value> chosen;
      for (size_t i = 0; i < nodes.size(); ++i) {
        std::optional<AtspiStates> s = statesOf(*nodes[i]);
        if (!s) continue;
        bool wanted =
            name == "AXFocusedWindow" ? s->has(ATSPI_STATE_ACTIVE) : s->has(ATSPI_STATE_SHOWING);
        if (!wanted) continue;
        if (chosen.empty()) calibrateScale(*nodes[i]);
        chosen.push_back(Value::ofElement((*windows)[i]));
        if (name == "AXFocusedWindow") return ok(std::move(chosen.front()));
      }
      if (chosen.empty()) return fail();
      return ok(Value::ofList(std::move(chosen)));
    }
    return fail();
  }

  // With toolkit scaling (GDK_SCALE=2) GTK reports extents in its own logical pixels, while a
  // click lands on root-window pixels. The ratio of the window's X11 width to its reported width
  // tells the factor; only whole factors are trusted, as GTK 3 scales only by those.
  void calibrateScale(const Node& window) {
    scale_ = 1.0;
    if (!activeWindowWidth_ || window.pid != activePid_) return;
    GVariant* r = replyOf(window, kGetExtents);
    if (!r) return;
    int32_t x = 0, y = 0, w = 0, h = 0;
    g_variant_get(r, "((iiii))", &x, &y, &w, &h);
    if (w <= 0) return;
    double ratio = static_cast<double>(activeWindowWidth_) / w;
    double whole = std::round(ratio);
    if (whole >= 2 && std::fabs(ratio - whole) < 0.15) scale_ = whole;
  }

  // The factor for one element's extents. Chromium started with a device scale factor reports
  // its own controls in logical pixels but a page's content in screen pixels already: a web
  // document wider than the window once scaled is taken as it is, and so is all it contains.
  double scaleOf(Node& n) {
    if (scale_ == 1.0) return 1.0;
    if (n.scale > 0) return n.scale;
    if (roleOf(n) == std::optional<uint32_t>(ATSPI_ROLE_DOCUMENT_WEB)) {
      GVariant* r = replyOf(n, kGetExtents);
      if (!r) return scale_;
      int32_t x = 0, y = 0, w = 0, h = 0;
      g_variant_get(r, "((iiii))", &x, &y, &w, &h);
      n.scale = w * scale_ > activeWindowWidth_ * 1.1 ? 1.0 : scale_;
      return n.scale;
    }
    std::shared_ptr<Node> parent = n.parent.lock();
    const double f = parent && !parent->application ? scaleOf(*parent) : scale_;
    // Known once an ancestor document has decided, or when there is none (the window's parent
    // is the application).
    if (!parent || parent->application || parent->scale > 0) n.scale = f;
    return f;
  }

  static bool gtk4(const Node& app) {
    return stringProperty(app, kToolkitName) == "GTK" &&
           stringProperty(app, kToolkitVersion).value_or("").starts_with("4.");
  }

  // An element's extents in screen pixels: scaled (see scaleOf) and, for a toolkit that gives
  // them relative to the window, moved by the window's place.
  std::optional<Rect> screenExtents(Node& n) {
    GVariant* r = replyOf(n, kGetExtents);
    if (!r) return std::nullopt;
    int32_t x = 0, y = 0, w = 0, h = 0;
    g_variant_get(r, "((iiii))", &x, &y, &w, &h);
    const double f = scaleOf(n);
    Rect out{x * f, y * f, w * f, h * f};
    if (n.windowRelative && n.pid == activePid_) {
      out.x += windowOrigin_[0];
      out.y += windowOrigin_[1];
    }
    return out;
  }

  // -- Applications --------------------------------------------------------------------------

  // Every application on the accessibility registry, with its process id.
  const std::vector<Element>& applications() {
    if (!applications_) {
      auto registry = std::make_shared<Node>();
      registry->bus = kRegistry;
      registry->path = kRootPath;
      registry->registry = true;
      fetch({registry}, kGetChildren);
      std::vector<Element> apps;
      if (const std::vector<Element>* children = childrenOf(registry)) {
        std::vector<std::shared_ptr<Node>> nodes = nodesOf(*children);
        fetch(nodes, kProcessId);
        for (size_t i = 0; i < nodes.size(); ++i) {
          auto app = std::make_shared<Node>();
          app->bus = nodes[i]->bus;
          app->path = nodes[i]->path;
          app->application = true;
          if (GVariant* r = replyOf(*nodes[i], kProcessId)) {
            uint32_t pid = 0;
            g_variant_get(r, "(u)", &pid);
            app->pid = static_cast<int32_t>(pid);
          }
          apps.push_back(std::make_shared<AtspiElement>(app));
        }
      }
      applications_ = std::move(apps);
    }
    return *applications_;
  }

  std::optional<std::string> applicationName(const Element& app) {
    const auto& node = asAtspi(app)->node;
    fetch({node}, kName);
    std::optional<std::string> name = stringProperty(*node, kName);
    if (name && name->empty()) return std::nullopt;
    return name;
  }

  FrontmostApplication fromActiveWindow(Display* d, Window w, int32_t pid) {
    activePid_ = pid;
    FrontmostApplication out;
    out.pid = pid;
    Element app = application(pid);
    const std::shared_ptr<Node>& appNode = asAtspi(app)->node;
    const bool accessible = !appNode->bus.empty();
    if (accessible) {
      // The walk starts from the application's windows; their list and the name asked for
      // below travel while the X11 properties are read.
      issue(appNode, kGetChildren);
      issue(appNode, kName);
      issue(appNode, kToolkitName);
      issue(appNode, kToolkitVersion);
    }
    // The window's own properties and the monitors are read while the application answers.
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    activeWindowTitle_ = textProperty(d, w, "_NET_WM_NAME", utf8)
                             .value_or(textProperty(d, w, "WM_NAME", XA_STRING).value_or(""));
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, w, &attributes)) activeWindowWidth_ = attributes.width;
    // Where the window's content starts on the root window: its origin, past the shadow GTK
    // draws around a window with client-side decorations (_GTK_FRAME_EXTENTS: left, right, top,
    // bottom).
    int rootX = 0, rootY = 0;
    Window child = None;
    if (XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child)) {
      windowOrigin_ = {static_cast<double>(rootX), static_cast<double>(rootY)};
      int format = 0;
      auto frame = windowProperty(d, w, "_GTK_FRAME_EXTENTS", XA_CARDINAL, &format);
      if (frame && format == 32 && frame->size() >= 4 * sizeof(long)) {
        long extents[4];
        std::copy_n(frame->data(), sizeof extents, reinterpret_cast<unsigned char*>(extents));
        windowOrigin_[0] += static_cast<double>(extents[0]);
        windowOrigin_[1] += static_cast<double>(extents[2]);
      }
    }
    // WM_CLASS holds the instance name and the class name, each ended by a NUL.
    std::optional<std::string> wmClass;
    if (auto raw = textProperty(d, w, "WM_CLASS", XA_STRING)) {
      size_t end = raw->find('\0');
      if (end != std::string::npos && end + 1 < raw->size()) {
        std::string cls = raw->substr(end + 1);
        cls = cls.substr(0, cls.find('\0'));
        if (!cls.empty()) wmClass = cls;
      }
    }
    out.bundleId = textProperty(d, w, "_GTK_APPLICATION_ID", utf8);
    if (!out.bundleId) {
      // GTK marks only the application's main windows; a dialog names its main window as the
      // one it is transient for, so the bundle id stays the same while a dialog is in front.
      if (auto owner = cardinalProperty(d, w, "WM_TRANSIENT_FOR", XA_WINDOW)) {
        out.bundleId = textProperty(d, static_cast<Window>(*owner), "_GTK_APPLICATION_ID", utf8);
      }
    }
    if (!out.bundleId || out.bundleId->empty()) out.bundleId = wmClass;
    if (!monitors_) monitors_ = readMonitors(d);
    if (accessible) out.name = applicationName(app);
    if (accessible) appNode->windowRelative = gtk4(*appNode);
    if (!out.name) out.name = wmClass;
    return out;
  }

  // Without X11: the application one of whose windows has the ACTIVE state.
  std::optional<FrontmostApplication> fromActiveFrame() {
    const std::vector<Element>& apps = applications();
    std::vector<std::shared_ptr<Node>> appNodes = nodesOf(apps);
    fetch(appNodes, kGetChildren);
    std::vector<std::shared_ptr<Node>> windows;
    for (const auto& a : appNodes) {
      if (const std::vector<Element>* children = childrenOf(a)) {
        for (const auto& w : nodesOf(*children)) windows.push_back(w);
      }
    }
    fetch(windows, kGetState);
    for (size_t i = 0; i < appNodes.size(); ++i) {
      const std::vector<Element>* children = childrenOf(appNodes[i]);
      if (!children) continue;
      for (const auto& w : nodesOf(*children)) {
        std::optional<AtspiStates> s = statesOf(*w);
        if (!s || !s->has(ATSPI_STATE_ACTIVE)) continue;
        FrontmostApplication out;
        out.pid = appNodes[i]->pid;
        out.name = applicationName(apps[i]);
        return out;
      }
    }
    return std::nullopt;
  }

  std::unique_ptr<BusWire> session_;
  std::unique_ptr<BusWire> a11y_;
  DisplayPtr display_;
  bool sessionTried_ = false;
  bool a11yTried_ = false;
  bool displayTried_ = false;
  XErrorHandler previousXErrorHandler_ = nullptr;
  std::unordered_map<uint32_t, Pending> pending_;
  int timeoutMs_ = kDefaultTimeoutMs;
  std::optional<std::vector<Element>> applications_;
  std::optional<std::vector<Rect>> monitors_;
  int32_t activePid_ = 0;
  std::string activeWindowTitle_;
  int activeWindowWidth_ = 0;
  std::array<double, 2> windowOrigin_{0, 0};
  double scale_ = 1.0;
  size_t failures_ = 0;  // calls that failed (error replies, timeouts)
  // Waits that ended in a timeout, and the run's limit on them: with the walk's own last request
  // this keeps a run within its budget plus three messaging timeouts.
  int stalls_ = 0;
  static constexpr int kMaxStalls = 2;
  int retries_ = 0;  // window reads asked again after a failure
  static constexpr int kRetries = 2;
  std::deque<std::shared_ptr<Node>> readAheadQueue_;
  // The AX roles the walk makes records of (the only elements whose details it reads).
  const std::map<std::string, std::string> recordRoles_ = makeRoleNames();
  static inline const std::array<std::string, 5> kDetailNames = {
      "AXTitle", "AXDescription", "AXPlaceholderValue", "AXValue", "AXEnabled"};
};

// ---- Platform ----------------------------------------------------------------------------------

AtspiPlatform::AtspiPlatform() : impl_(std::make_unique<Impl>()) {}
AtspiPlatform::~AtspiPlatform() = default;

bool AtspiPlatform::isProcessTrusted() {
  return impl_->trusted();
}
bool AtspiPlatform::isProcessTrustedWithPrompt() {
  return impl_->trustedWithPrompt();
}

std::string AtspiPlatform::notTrustedMessage() {
  if (waylandSession()) {
    return "Wayland session: vantic-ax needs an X11 session (windows on Wayland do not report "
           "their screen positions, so no click target could be given); log in to an X11 "
           "session, e.g. GNOME on Xorg";
  }
  return "accessibility not enabled: turn on assistive technologies (gsettings set "
         "org.gnome.desktop.interface toolkit-accessibility true, or run vantic-ax --prompt), "
         "make sure the accessibility bus (at-spi2-core) runs, then restart the application";
}

std::optional<FrontmostApplication> AtspiPlatform::frontmostApplication() {
  return impl_->frontmost();
}

std::vector<Rect> AtspiPlatform::screens() {
  return impl_->monitors();
}

Element AtspiPlatform::createApplicationElement(int32_t pid) {
  return impl_->application(pid);
}

void AtspiPlatform::setMessagingTimeout(const Element&, float seconds) {
  impl_->setTimeout(seconds);
}

// "AXManualAccessibility" and its kind have no AT-SPI counterpart: an application on the bus
// already exposes its whole tree.
void AtspiPlatform::setBooleanAttribute(const Element&, const std::string&, bool) {}

ReadResult AtspiPlatform::copyAttributeValue(const Element& element, const std::string& name) {
  return impl_->readOne(element, name);
}

BatchResult AtspiPlatform::copyMultipleAttributeValues(const Element& element,
                                                       const std::vector<std::string>& names) {
  return impl_->readBatch(element, names);
}

bool AtspiPlatform::isEqual(const Element& a, const Element& b) {
  return impl_->equal(a, b);
}

void AtspiPlatform::sleepFor(double seconds) {
  // Beyond about 292 years the conversion to the clock's nanoseconds would overflow.
  std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 1e9)));
}

double AtspiPlatform::now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace ax

namespace ax {

std::unique_ptr<Platform> makeSystemPlatform() {
  return std::make_unique<AtspiPlatform>();
}

}  // namespace ax
