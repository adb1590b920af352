// The snapshot platform on Linux: AT-SPI2 over D-Bus for the interface tree, X11 for the active
// window, its properties and the monitors.
//
// This file holds the connections, the trust check, the frontmost application and the Platform
// calls; the requests and their answers are in atspi-requests.h, the attribute table in
// atspi-attributes.h, the reads sent ahead of the walk in atspi-prefetch.h; what X11 says of
// windows and monitors comes from desktop/x11/window-facts.h.
#include <atspi/atspi-constants.h>
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "ax/atspi-attributes.h"
#include "ax/atspi-bus.h"
#include "ax/atspi-prefetch.h"
#include "ax/atspi-requests.h"
#include "ax/platform.h"
#include "desktop/gnome/shell.h"
#include "desktop/kde/kwin.h"
#include "desktop/session.h"
#include "desktop/sway/ipc.h"
#include "desktop/x11/window-facts.h"

namespace ax {
namespace {

constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

class AtspiPlatform : public Platform {
 public:
  AtspiPlatform() {
    queue_.onAnswer([this](const auto& node, Call call) { tree_.onAnswer(node, call); });
    queue_.afterAnswers([this] { tree_.pump(); });
  }

  ~AtspiPlatform() override {
    // Calls still in flight (answers nobody waited for) are dropped with their connection.
    queue_.clear();
    direct_.clear();
    a11y_.reset();
    session_.reset();
  }

  AtspiPlatform(const AtspiPlatform&) = delete;
  AtspiPlatform& operator=(const AtspiPlatform&) = delete;

  // A Wayland client does not know where its windows lie on the screen, and XWayland's X11 sees
  // only its own windows: without the compositor's word, records would carry wrong centres.
  // sway tells through its IPC, GNOME Shell through Mevrik's extension, KWin through a script;
  // other compositors are refused.
  std::optional<std::string> unsupportedSession() override {
    using namespace mevrik::desktop;
    const Session session = detectSession();
    if (session == Session::kX11) return std::nullopt;
    if (session == Session::kGnome) {
      std::string error;
      gnome_ = gnome::Shell::connect(error);
      if (gnome_) return std::nullopt;
      return gnome::refusal("vantic-ax", error, "no snapshot was taken");
    }
    std::string why =
        "windows on Wayland do not report their screen positions, so no click target could be "
        "given";
    if (session == Session::kWlroots) {
      std::string error;
      sway_ = sway::Ipc::connect(error);
      if (sway_) return std::nullopt;
      why = "the positions come from sway's IPC: " + error;
    }
    if (session == Session::kKde) {
      std::string error;
      // One script reads everything the run needs: each costs a round trip through KWin.
      if (auto kwin = kde::KWin::connect(error)) {
        kwin_ = kwin->read();
        if (kwin_) return std::nullopt;
        error = "KWin did not answer its script";
      }
      why = "the positions come from a KWin script: " + error;
    }
    return refusal(session, "vantic-ax", why, "log in to an X11 session, e.g. GNOME on Xorg");
  }

  bool isProcessTrusted() override {
    // Both questions to the session bus go out together: the answers cost one round trip.
    BusWire* bus = session();
    if (!bus) return false;
    const bool ask = !a11yAddress_ && !explicitA11yAddress();
    const uint32_t status =
        bus->call("org.a11y.Bus", "/org/a11y/bus", kProperties, "Get",
                  g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), kBusSetupTimeoutMs, true);
    const uint32_t address = ask ? bus->call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                             "GetAddress", nullptr, kBusSetupTimeoutMs, true)
                                 : 0;
    std::vector<VariantPtr> replies = bus->awaitAll({status, address});
    if (!enabledIn(replies[0].get())) return false;
    if (ask) a11yAddress_ = launcherAddress(replies[1].get());
    // A lookup may never need the bus (see directApplication): it connects on first use.
    if (lookup_) return !a11yBusAddress().empty();
    return a11y() != nullptr;
  }

  bool isProcessTrustedWithPrompt() override {
    if (BusWire* bus = session()) {
      bus->callSync(
          "org.a11y.Bus", "/org/a11y/bus", kProperties, "Set",
          g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
          kBusSetupTimeoutMs, true);
    }
    return isProcessTrusted();
  }

  std::string notTrustedMessage() override {
    return "accessibility not enabled: turn on assistive technologies (gsettings set "
           "org.gnome.desktop.interface toolkit-accessibility true, or run vantic-ax --prompt), "
           "make sure the accessibility bus (at-spi2-core) runs, then restart the application";
  }

  std::optional<FrontmostApplication> frontmostApplication() override {
    // A lookup reaches most applications without the bus (see directApplication).
    if (!lookup_ && !a11y()) return std::nullopt;
    if (onCompositor()) return fromCompositor(std::nullopt);
    if (auto active = x11_.activeWindow()) return fromActiveWindow(active->first, active->second);
    return fromActiveFrame();
  }

  std::vector<Rect> screens() override { return screenList(); }

  // The application's topmost window stands for it as the active window does for the frontmost
  // one (its title and place); an application without windows is found on the bus alone.
  // A lookup reads no extents, so it skips X11 and goes to the application's own socket, else
  // by the accessibility registry.
  std::optional<FrontmostApplication> applicationWithPid(int32_t pid) override {
    if (lookup_) {
      if (Element app = directApplication(pid)) {
        active_.pid = pid;
        return FrontmostApplication{pid, applicationName(app), std::nullopt};
      }
    }
    if (!a11y()) return std::nullopt;
    if (onCompositor()) {
      if (auto found = fromCompositor(Wanted{pid, 0})) return found;
    } else if (!lookup_) {
      if (auto window = x11_.topWindowOf(pid)) return fromActiveWindow(*window, pid);
    }
    for (const Element& app : applications()) {
      const std::shared_ptr<Node>& node = asAtspi(app)->node;
      if (node->pid != pid) continue;
      active_.pid = pid;
      queue_.issue(node, kGetChildren);  // its windows, which come next
      queue_.issue(node, kName);
      queue_.issue(node, kBusAddress);
      connectDirect(node);
      return FrontmostApplication{pid, applicationName(app), std::nullopt};
    }
    return std::nullopt;
  }

  std::optional<FrontmostApplication> applicationOfWindow(uint64_t window) override {
    if (!a11y()) return std::nullopt;
    if (onCompositor()) return fromCompositor(Wanted{0, window});
    const std::optional<int32_t> pid = x11_.windowPid(window);
    if (!pid) return std::nullopt;
    return fromActiveWindow(window, *pid);
  }

  // AT-SPI does not know X11 windows nor the compositor's: the frame is the application's window
  // whose name is the window's title, or whose extents are where the window system puts the
  // window's content (GTK 3 leaves a frame's name empty), the nearest one when several qualify.
  Element windowElement(const Element& app, uint64_t window) override {
    const AtspiElement* a = asAtspi(app);
    if (!a || !a->node || a->node->bus.empty() || window != targetWindow_) return nullptr;
    const std::shared_ptr<Node>& appNode = a->node;
    queue_.fetch({appNode}, kGetChildren);
    const std::vector<Element>* frames = tree_.childrenOf(appNode);
    if (!frames) return nullptr;
    std::vector<std::shared_ptr<Node>> nodes = nodesOf(*frames);
    for (const auto& n : nodes) {
      queue_.issue(n, kName);
      queue_.issue(n, kGetExtents);
      queue_.issue(n, kGetState);
    }
    queue_.await(nodes);
    constexpr double kSlack = 64;
    size_t best = nodes.size();
    double bestMiss = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const Node& n = *nodes[i];
      const bool named =
          !targetFacts_.title.empty() && stringProperty(n, kName) == targetFacts_.title;
      double miss = kSlack * 4;
      if (GVariant* r = replyOf(n, kGetExtents)) {
        int32_t x = 0, y = 0, w = 0, h = 0;
        g_variant_get(r, "((iiii))", &x, &y, &w, &h);
        miss = std::fabs(x - targetFacts_.contentX) + std::fabs(y - targetFacts_.contentY) +
               std::fabs(w - targetFacts_.width);
        // GNOME Shell tells the surface's width, which GTK reports as its window, at the
        // toolkit's scale (see calibrateScale).
        if (onCompositor() && active_.width > 0 && w > 0) {
          const double scale = std::max(1.0, std::round(static_cast<double>(active_.width) / w));
          miss = std::min(miss, std::fabs(x - targetFacts_.contentX) +
                                    std::fabs(y - targetFacts_.contentY) +
                                    std::fabs(w * scale - active_.width));
        }
      }
      if (!named && miss > kSlack) continue;
      if (named) miss -= kSlack * 4;  // a matching name outranks any geometry
      if (best == nodes.size() || miss < bestMiss) best = i, bestMiss = miss;
    }
    if (best == nodes.size()) return nullptr;
    calibrateScale(active_, *nodes[best]);
    fitSurface(active_, *nodes[best]);
    return (*frames)[best];
  }

  void prepareLookup() override {
    lookup_ = true;
    tree_.stopReadingAhead();
  }

  // GetChildAtIndex of the parent, with the parent's role and states in the same round trip:
  // the role names the child's role as the walk names it, and under a hidden element the walk
  // lists no children.
  Element childAt(const Element& parent, size_t index) override {
    const AtspiElement* p = asAtspi(parent);
    if (!p || !p->node || p->node->bus.empty() || p->node->path.empty() ||
        index > static_cast<size_t>(INT32_MAX)) {
      return nullptr;
    }
    const std::shared_ptr<Node>& up = p->node;
    auto child = std::make_shared<Node>();
    child->bus = up->bus;
    child->pid = up->pid;
    child->windowRelative = up->windowRelative;
    child->depth = up->depth + 1;
    child->parent = up;
    child->index = static_cast<int32_t>(index);
    if (!up->application) {
      queue_.issue(up, kGetRole);
      queue_.issue(up, kGetState);
    }
    queue_.issue(child, kChildAtIndex);
    queue_.await({up, child});
    if (hiddenNode(*up) || !child->done(kChildAtIndex) || child->bus.empty()) return nullptr;
    const std::optional<uint32_t> role = roleOf(*up);
    child->parentRole = up->application ? ATSPI_ROLE_APPLICATION : role ? int(*role) : -1;
    return std::make_shared<AtspiElement>(child);
  }

  Element createApplicationElement(int32_t pid) override {
    if (directApp_ && asAtspi(directApp_)->node->pid == pid) return directApp_;
    std::vector<Element> matches;
    for (const Element& app : applications()) {
      if (asAtspi(app)->node->pid == pid) matches.push_back(app);
    }
    // A process can register twice (Qt on Wayland adds an application without windows): the one
    // with windows stands for it.
    if (matches.size() > 1) {
      queue_.fetch(nodesOf(matches), kGetChildren);
      for (const Element& app : matches) {
        const std::vector<Element>* windows = tree_.childrenOf(asAtspi(app)->node);
        if (windows && !windows->empty()) return app;
      }
    }
    if (!matches.empty()) return matches.front();
    // No accessible application with that process: an element whose every read fails.
    auto node = std::make_shared<Node>();
    node->application = true;
    node->pid = pid;
    return std::make_shared<AtspiElement>(node);
  }

  void setMessagingTimeout(const Element&, float seconds) override {
    if (std::isfinite(seconds) && seconds > 0) {
      actionTimeoutMs_ = std::max(1, static_cast<int>(std::min(3600.0f, seconds) * 1000.0f));
      queue_.setTimeoutMs(actionTimeoutMs_);
    }
  }

  // "AXManualAccessibility" and its kind have no AT-SPI counterpart: an application on the bus
  // already exposes its whole tree.
  void setBooleanAttribute(const Element&, const std::string&, bool) override {}

  ReadResult copyAttributeValue(const Element& element, const std::string& name) override {
    const AtspiElement* e = asAtspi(element);
    if (!e || !e->node || e->node->bus.empty()) return ReadResult{kNoValue, std::nullopt};
    fetchFor(e->node, {name});
    return valueOf(context_, e->node, name);
  }

  BatchResult copyMultipleAttributeValues(const Element& element,
                                          const std::vector<std::string>& names) override {
    const AtspiElement* e = asAtspi(element);
    BatchResult result;
    if (!e || !e->node || e->node->bus.empty()) {
      result.code = kNoValue;
      return result;
    }
    const Node& node = *e->node;
    tree_.walkedTo(e->node);
    fetchFor(e->node, names);
    // A batch whose element did not answer at all fails as a whole, as one failed request would.
    if (!node.application && node.failed(kGetRole) && node.failed(kGetState)) {
      result.code = kNoValue;
      return result;
    }
    std::vector<std::optional<Value>> values;
    values.reserve(names.size());
    for (const std::string& name : names) {
      ReadResult one = valueOf(context_, e->node, name);
      values.push_back(one.code == kSuccess && one.value ? std::move(one.value)
                                                         : std::optional<Value>(Value::null()));
    }
    result.values = std::move(values);
    return result;
  }

  bool isEqual(const Element& a, const Element& b) override {
    const AtspiElement* x = asAtspi(a);
    const AtspiElement* y = asAtspi(b);
    if (!x || !y) return false;
    if (!x->node && !y->node) return true;
    if (!x->node || !y->node) {
      const std::shared_ptr<Node>& other = x->node ? x->node : y->node;
      if (other->application || other->bus.empty()) return false;
      queue_.fetch({other}, kGetState);
      std::optional<AtspiStates> states = statesOf(*other);
      return states && states->has(ATSPI_STATE_FOCUSED);
    }
    return x->node->bus == y->node->bus && x->node->path == y->node->path;
  }

  int32_t performAction(const Element& element, Action action, const std::string& text) override {
    const AtspiElement* e = asAtspi(element);
    if (!e || !e->node || e->node->bus.empty() || e->node->path.empty()) return kNoValue;
    // Reads still on their way are of no use now; their answers are dropped as they come.
    queue_.clear();
    const Node& n = *e->node;
    const int timeout = std::max(actionTimeoutMs_, kDefaultTimeoutMs);
    // The application's own server when there is one: one hop instead of two through the bus.
    BusWire* wire = !direct_.empty() && n.bus == directName_ ? direct_.front().get() : a11y();
    if (!wire) return kCannotComplete;
    auto send = [&](const char* iface, const char* method, GVariant* params) {
      return wire->call(n.bus.c_str(), n.path.c_str(), iface, method, params, timeout, false);
    };
    auto call = [&](const char* iface, const char* method, GVariant* params) {
      return std::move(wire->awaitAll({send(iface, method, params)}).front());
    };
    // A press needs the action names too; they are asked for with the interfaces (an element
    // without the Action interface answers that request with an error, which is not used then).
    const uint32_t interfacesCall = send("org.a11y.atspi.Accessible", "GetInterfaces", nullptr);
    const uint32_t actionsCall =
        action == Action::kPress ? send("org.a11y.atspi.Action", "GetActions", nullptr) : 0;
    std::vector<VariantPtr> answers = wire->awaitAll({interfacesCall, actionsCall});
    VariantPtr interfaces = std::move(answers[0]);
    if (!interfaces || !g_variant_is_of_type(interfaces.get(), G_VARIANT_TYPE("(as)"))) {
      return kCannotComplete;
    }
    auto has = [&](const char* name) {
      VariantPtr list = childOf(interfaces.get(), 0);
      for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
        const char* listed = nullptr;
        g_variant_get_child(list.get(), i, "&s", &listed);
        if (listed && std::string_view(listed) == name) return true;
      }
      return false;
    };
    VariantPtr done;
    switch (action) {
      case Action::kPress: {
        if (!has("org.a11y.atspi.Action")) return kActionUnsupported;
        VariantPtr actions = std::move(answers[1]);
        if (!actions || !g_variant_is_of_type(actions.get(), G_VARIANT_TYPE("(a(sss))"))) {
          return kCannotComplete;
        }
        const std::optional<int32_t> index = pressAction(actions.get());
        if (!index) return kActionUnsupported;
        done = call("org.a11y.atspi.Action", "DoAction", g_variant_new("(i)", *index));
        break;
      }
      case Action::kFocus:
        if (!has("org.a11y.atspi.Component")) return kActionUnsupported;
        done = call("org.a11y.atspi.Component", "GrabFocus", nullptr);
        break;
      case Action::kSetText:
        if (!has("org.a11y.atspi.EditableText")) return kActionUnsupported;
        done = call("org.a11y.atspi.EditableText", "SetTextContents",
                    g_variant_new("(s)", text.c_str()));
        break;
    }
    if (!done || !g_variant_is_of_type(done.get(), G_VARIANT_TYPE("(b)"))) return kCannotComplete;
    gboolean ok = FALSE;
    g_variant_get(done.get(), "(b)", &ok);
    // A toolkit answers false for an element that cannot take the focus or whose text is
    // read-only.
    return ok ? kSuccess : kActionUnsupported;
  }

  Element refreshed(const Element& element) override {
    const AtspiElement* e = asAtspi(element);
    if (!e || !e->node) return element;
    const Node& old = *e->node;
    auto n = std::make_shared<Node>();
    n->bus = old.bus;
    n->path = old.path;
    n->parentRole = old.parentRole;
    n->pid = old.pid;
    n->application = old.application;
    n->windowRelative = old.windowRelative;
    n->parent = old.parent;
    n->index = old.index;
    n->scale = old.scale;
    n->depth = old.depth;
    return std::make_shared<AtspiElement>(n);
  }

  void sleepFor(double seconds) override {
    // Beyond about 292 years the conversion to the clock's nanoseconds would overflow.
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 1e9)));
  }

  double now() override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
      if (!address.empty()) session_ = BusWire::connect(address, kBusSetupTimeoutMs);
    }
    return session_.get();
  }

  BusWire* a11y() {
    if (!a11yTried_) {
      a11yTried_ = true;
      const std::string address = a11yBusAddress();
      if (!address.empty()) a11y_ = BusWire::connect(address, kBusSetupTimeoutMs);
    }
    return a11y_.get();
  }

  static const char* explicitA11yAddress() {
    const char* address = std::getenv("AT_SPI_BUS_ADDRESS");
    return address && *address ? address : nullptr;
  }

  // The same order libatspi follows: the explicit address, else ask the session's launcher.
  std::string a11yBusAddress() {
    if (const char* address = explicitA11yAddress()) return address;
    if (!a11yAddress_) {
      BusWire* bus = session();
      VariantPtr reply = bus ? bus->callSync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                             "GetAddress", nullptr, kBusSetupTimeoutMs, true)
                             : nullptr;
      a11yAddress_ = launcherAddress(reply.get());
    }
    return *a11yAddress_;
  }

  // The address in the launcher's reply to GetAddress, "" without one.
  static std::string launcherAddress(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(s)"))) return "";
    const char* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    return address ? address : "";
  }

  // Whether the reply to Get of org.a11y.Status IsEnabled says true.
  static bool enabledIn(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)"))) return false;
    VariantPtr inner = unboxed(reply);
    return inner && g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_BOOLEAN) &&
           g_variant_get_boolean(inner.get());
  }

  // -- Attribute reads -----------------------------------------------------------------------

  // Sends what the attributes need and waits, round after round, until nothing new is needed.
  void fetchFor(const std::shared_ptr<Node>& node, const std::vector<std::string>& names) {
    for (;;) {
      bool sent = false;
      for (const std::string& name : names) {
        for (Call c : callsFor(*node, name)) sent = queue_.issue(node, c) || sent;
      }
      // Calls sent earlier (by a prefetch) may still be on their way: wait for them too.
      bool waiting = queue_.anyPending(*node);
      if (!sent && !waiting) break;
      queue_.await({node});
    }
  }

  // Whether the element's extents are in and do not put it wholly off every screen (the
  // walk's pruning); failed extents do not prune.
  bool onScreen(Node& n) {
    if (n.failed(kGetExtents)) return true;
    std::optional<Rect> e = screenExtents(active_, n);
    if (!e) return false;
    const std::vector<Rect>& screens = screenList();
    if (screens.empty() || e->w <= 0 || e->h <= 0) return true;
    return std::any_of(screens.begin(), screens.end(), [&](const Rect& s) {
      return e->x + e->w > s.x && e->y + e->h > s.y && e->x < s.x + s.w && e->y < s.y + s.h;
    });
  }

  // -- Applications --------------------------------------------------------------------------

  // Every application on the accessibility registry, with its process id.
  const std::vector<Element>& applications() {
    if (!applications_) {
      auto registry = std::make_shared<Node>();
      registry->bus = "org.a11y.atspi.Registry";
      registry->path = "/org/a11y/atspi/accessible/root";
      registry->registry = true;
      queue_.fetch({registry}, kGetChildren);
      std::vector<Element> apps;
      if (const std::vector<Element>* children = tree_.childrenOf(registry)) {
        std::vector<std::shared_ptr<Node>> nodes = nodesOf(*children);
        queue_.fetch(nodes, kProcessId);
        for (const auto& listed : nodes) {
          auto app = std::make_shared<Node>();
          app->bus = listed->bus;
          app->path = listed->path;
          app->application = true;
          if (GVariant* r = replyOf(*listed, kProcessId)) {
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
    queue_.fetch({node}, kName);
    std::optional<std::string> name = stringProperty(*node, kName);
    if (name && name->empty()) return std::nullopt;
    return name;
  }

  FrontmostApplication fromActiveWindow(unsigned long window, int32_t pid) {
    active_.pid = pid;
    if (lookup_) directApplication(pid);
    FrontmostApplication out;
    out.pid = pid;
    Element app = createApplicationElement(pid);
    const std::shared_ptr<Node>& appNode = asAtspi(app)->node;
    const bool accessible = !appNode->bus.empty();
    if (accessible) {
      // The walk starts from the application's windows; their list, the name and the toolkit
      // asked for below travel while the X11 properties are read.
      queue_.issue(appNode, kGetChildren);
      queue_.issue(appNode, kName);
      queue_.issue(appNode, kToolkitName);
      queue_.issue(appNode, kToolkitVersion);
      queue_.issue(appNode, kBusAddress);
    }
    // The window's own properties and the monitors are read while the application answers.
    const auto facts = x11_.describe(static_cast<xcb_window_t>(window));
    targetWindow_ = window;
    targetFacts_ = facts;
    active_.title = facts.title;
    if (facts.width) active_.width = facts.width;
    active_.originX = facts.contentX;
    active_.originY = facts.contentY;
    out.bundleId = facts.applicationId;
    x11Screens();
    active_.monitorCorners.clear();
    for (const auto& [x, y] : x11_.monitorCorners()) {
      active_.monitorCorners.push_back(Point{static_cast<double>(x), static_cast<double>(y)});
    }
    if (accessible) out.name = applicationName(app);
    // GTK 4 gives extents relative to the window (see Node::windowRelative).
    if (accessible) {
      appNode->windowRelative =
          stringProperty(*appNode, kToolkitName) == "GTK" &&
          stringProperty(*appNode, kToolkitVersion).value_or("").starts_with("4.");
    }
    if (!out.name) out.name = facts.wmClass;
    if (accessible) connectDirect(appNode);
    return out;
  }

  // Toolkits that serve their tree through the AT-SPI bridge also listen on a socket of their
  // own. Requests sent there skip the bus daemon's relay, which on a busy machine costs as much
  // CPU as the application's answers and adds a hop to every round trip. Without that server
  // (GTK 4, Qt), or when its socket does not take the connection, requests keep going through
  // the bus. The handshake is not waited for: the first requests follow it on the socket.
  //
  // The bridge takes one request per connection from each turn of the application's main loop
  // (so as not to starve its other event sources), and a turn of a large application's loop
  // costs more than answering: LibreOffice Calc answers about one request per 140 microseconds
  // while spending 25 of them on it. Several connections get several requests answered per turn.
  static constexpr int kDirectLanes = 4;
  void connectDirect(const std::shared_ptr<Node>& app) {
    if (!direct_.empty()) return;  // reached on its own socket already
    queue_.await({app});
    GVariant* r = replyOf(*app, kBusAddress);
    if (!r) return;
    const char* address = nullptr;
    g_variant_get(r, "(&s)", &address);
    if (!address || !*address) return;
    std::vector<BusWire*> wires;
    // A lookup's requests follow one another: one connection is enough.
    for (int i = 0; i < (lookup_ ? 1 : kDirectLanes); ++i) {
      std::unique_ptr<BusWire> wire = BusWire::connect(address, kDefaultTimeoutMs / 4, true);
      if (!wire) break;
      wires.push_back(wire.get());
      direct_.push_back(std::move(wire));
    }
    if (!wires.empty()) queue_.sendDirect(app->bus, std::move(wires));
    directName_ = app->bus;
  }

  // The AT-SPI bridge (GTK 3, and other toolkits through ATK) serves an application's tree on a
  // socket named after its process in the runtime folder. A lookup that knows the process goes
  // there straight away: no registry listing every application, no relay through the bus daemon,
  // and the handshake travels with the first requests. The socket must belong to that process.
  // The application's name on the accessibility bus, which the references in its answers carry,
  // comes from its own reference. Without such a socket (GTK 4, Qt), the registry is asked.
  Element directApplication(int32_t pid) {
    if (directApp_ || !direct_.empty()) return nullptr;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime || pid <= 0) return nullptr;
    const std::string socket = std::string(runtime) + "/at-spi2-socket-" + std::to_string(pid);
    if (!g_file_test(socket.c_str(), G_FILE_TEST_EXISTS)) return nullptr;
    std::unique_ptr<BusWire> wire =
        BusWire::connect(unixPathAddress(socket), kDefaultTimeoutMs / 4, true);
    if (!wire || wire->peerPid() != pid) return nullptr;
    constexpr const char* kRoot = "/org/a11y/atspi/accessible/root";
    constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
    const int timeout = std::max(actionTimeoutMs_, kDefaultTimeoutMs);
    std::vector<VariantPtr> replies =
        wire->awaitAll({wire->call(nullptr, kRoot, kAccessible, "GetApplication", nullptr, timeout),
                        wire->call(nullptr, kRoot, kAccessible, "GetChildren", nullptr, timeout),
                        wire->call(nullptr, kRoot, kProperties, "Get",
                                   g_variant_new("(ss)", kAccessible, "Name"), timeout)});
    if (!replies[0] || !g_variant_is_of_type(replies[0].get(), G_VARIANT_TYPE("((so))"))) {
      return nullptr;
    }
    const char* name = nullptr;
    g_variant_get(replies[0].get(), "((&so))", &name, nullptr);
    if (!name || !*name) return nullptr;
    auto node = std::make_shared<Node>();
    node->bus = name;
    node->path = kRoot;
    node->application = true;
    node->pid = pid;
    auto keep = [&node](Call call, VariantPtr reply, const char* type) {
      if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(type))) return;
      node->slots[call] = Slot{Slot::State::kDone, std::move(reply)};
    };
    keep(kGetChildren, std::move(replies[1]), "(a(so))");
    keep(kName, std::move(replies[2]), "(v)");
    queue_.sendDirect(node->bus, {wire.get()});
    directName_ = node->bus;
    direct_.push_back(std::move(wire));
    directApp_ = std::make_shared<AtspiElement>(node);
    return directApp_;
  }

  // A D-Bus address for a socket path: bytes other than the safe ones escaped as %XX.
  static std::string unixPathAddress(const std::string& path) {
    std::string out = "unix:path=";
    for (const unsigned char c : path) {
      if (g_ascii_isalnum(c) ||
          std::string_view("-_/.\\*").find(static_cast<char>(c)) != std::string_view::npos) {
        out += static_cast<char>(c);
      } else {
        static const char kHex[] = "0123456789abcdef";
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  }

  // The screens: the compositor's outputs (read once), else X11's root window.
  const std::vector<Rect>& screenList() {
    if (!onCompositor()) return x11Screens();
    if (!outputs_) {
      outputs_.emplace();
      auto outputs = sway_   ? sway_->outputs()
                     : kwin_ ? std::optional(kwin_->outputs)
                             : gnome_->outputs();
      for (const mevrik::desktop::Output& o :
           outputs.value_or(std::vector<mevrik::desktop::Output>{})) {
        outputs_->push_back(Rect{static_cast<double>(o.area.x), static_cast<double>(o.area.y),
                                 static_cast<double>(o.area.width),
                                 static_cast<double>(o.area.height)});
        outputScales_.push_back(o.scale);
      }
    }
    return *outputs_;
  }

  bool onCompositor() const { return sway_ || gnome_ || kwin_; }

  // What a run reads on Wayland: a process's topmost window, or the window with that id; by
  // default the focused window.
  struct Wanted {
    int32_t pid = 0;
    uint64_t id = 0;
  };

  // The window as the compositor tells it. Toolkits on Wayland give extents relative to their
  // surface, in the same logical pixels as the compositor's layout, so a record's place is the
  // surface's origin plus its extents.
  std::optional<FrontmostApplication> fromCompositor(std::optional<Wanted> wanted) {
    std::optional<std::vector<mevrik::desktop::Window>> windows = sway_   ? sway_->windows()
                                                                  : kwin_ ? kwin_->windows
                                                                          : gnome_->windows();
    if (!windows) return std::nullopt;
    const mevrik::desktop::Window* chosen = nullptr;
    for (const mevrik::desktop::Window& w : *windows) {
      if (w.pid <= 0) continue;
      if (!wanted) {
        if (w.focused) chosen = &w;
      } else if (wanted->id) {
        if (w.id >= 0 && static_cast<uint64_t>(w.id) == wanted->id) chosen = &w;
      } else if (w.pid == wanted->pid && !(chosen && chosen->focused)) {
        // GNOME lists the windows bottom first, so the last one is the topmost.
        chosen = &w;
      }
    }
    if (!chosen) return std::nullopt;
    const mevrik::desktop::Window& w = *chosen;
    active_.pid = w.pid;
    active_.title = w.title;
    active_.originX = static_cast<double>(w.surfaceX);
    active_.originY = static_cast<double>(w.surfaceY);
    active_.surfaceRelative = !w.xwayland;
    if (w.xwayland) {
      // XWayland's root window is the layout, so the toolkit's screen positions are points.
      active_.originX = static_cast<double>(w.content.x);
      active_.originY = static_cast<double>(w.content.y);
    } else {
      active_.content =
          Rect{static_cast<double>(w.content.x), static_cast<double>(w.content.y),
               static_cast<double>(w.content.width), static_cast<double>(w.content.height)};
      // The surface's width on the screen against the toolkit's own tells the monitor's scale
      // where the screen counts the monitors' pixels (see calibrateScale).
      active_.width = static_cast<int>(w.surfaceWidth);
    }
    // windowElement finds the frame by its title or by where the content lies in the surface.
    targetWindow_ = static_cast<unsigned long>(w.id);
    targetFacts_ = mevrik::desktop::x11::WindowFacts{};
    targetFacts_.title = w.title;
    // Toolkits put their window at their surface's origin, as wide as the surface (GTK, with its
    // shadows) or as the content within their own decorations (Qt).
    targetFacts_.width = static_cast<int>(w.content.width);
    FrontmostApplication out;
    out.pid = w.pid;
    Element app = createApplicationElement(w.pid);
    const std::shared_ptr<Node>& appNode = asAtspi(app)->node;
    if (!w.appId.empty()) out.bundleId = w.appId;
    if (!appNode->bus.empty()) {
      queue_.issue(appNode, kGetChildren);
      queue_.issue(appNode, kToolkitName);
      queue_.issue(appNode, kToolkitVersion);
      queue_.issue(appNode, kBusAddress);
      out.name = applicationName(app);
      // GTK 4 marks only its window SHOWING (see Node::windowRelative).
      appNode->windowRelative =
          stringProperty(*appNode, kToolkitName) == "GTK" &&
          stringProperty(*appNode, kToolkitVersion).value_or("").starts_with("4.");
      active_.reportsOutputCorner = stringProperty(*appNode, kToolkitName) == "Qt";
      connectDirect(appNode);
    }
    if (!out.name && !w.appId.empty()) out.name = w.appId;
    screenList();
    monitorScale_.reset();
    if (gnome_ && !w.xwayland) monitorScale_ = scaleOfMonitorUnder(w.frame);
    return out;
  }

  // The scale of the monitor a window is on as Mutter counts it: the one holding most of its
  // frame. None when the window lies on no monitor.
  std::optional<double> scaleOfMonitorUnder(const mevrik::desktop::Box& frame) const {
    std::optional<double> scale;
    double most = 0;
    for (size_t i = 0; i < outputs_->size() && i < outputScales_.size(); ++i) {
      const Rect& o = (*outputs_)[i];
      const double across = std::min(o.x + o.w, static_cast<double>(frame.x + frame.width)) -
                            std::max(o.x, static_cast<double>(frame.x));
      const double down = std::min(o.y + o.h, static_cast<double>(frame.y + frame.height)) -
                          std::max(o.y, static_cast<double>(frame.y));
      if (across > 0 && down > 0 && across * down > most)
        most = across * down, scale = outputScales_[i];
    }
    return scale;
  }

  // GNOME Shell counts the monitors' own pixels, so a window's surface is its monitor's scale
  // times wider on the screen than its toolkit says, and that factor is what the records are
  // scaled by. Qt 6.4 draws at the scale of the first monitor the shell announces, whichever
  // monitor its window is on, while Mutter sizes the window by its own monitor's scale: the
  // factor found is not the monitor's, and neither the records nor what is drawn lie where a
  // click lands. Where Mutter lays the monitors out in points every toolkit's factor is 1,
  // whatever the monitor's scale.
  std::optional<std::string> misplacedWindow() override {
    if (!gnome_ || !monitorScale_ || active_.ratio <= 0 || active_.scale == *monitorScale_) {
      return std::nullopt;
    }
    if (active_.scale == 1.0 && gnome_->layoutInPoints() == std::optional(true))
      return std::nullopt;
    char found[32], monitor[32];
    g_snprintf(found, sizeof found, "%.3g", active_.ratio);
    g_snprintf(monitor, sizeof monitor, "%g", *monitorScale_);
    return std::string("Wayland session: GNOME Shell shows the window ") +
           std::to_string(targetWindow_) + " at " + found +
           " times its application's size on a monitor of scale " + monitor +
           ", so its elements' centres would miss (Qt draws its windows at one monitor's scale "
           "on every monitor): move the window to a monitor of the scale it is drawn at, or give "
           "the monitors one scale; no snapshot was taken";
  }

  // Without X11: the application one of whose windows has the ACTIVE state.
  std::optional<FrontmostApplication> fromActiveFrame() {
    const std::vector<Element>& apps = applications();
    std::vector<std::shared_ptr<Node>> appNodes = nodesOf(apps);
    queue_.fetch(appNodes, kGetChildren);
    std::vector<std::shared_ptr<Node>> windows;
    for (const auto& a : appNodes) {
      if (const std::vector<Element>* children = tree_.childrenOf(a)) {
        for (const auto& w : nodesOf(*children)) windows.push_back(w);
      }
    }
    queue_.fetch(windows, kGetState);
    for (size_t i = 0; i < appNodes.size(); ++i) {
      const std::vector<Element>* children = tree_.childrenOf(appNodes[i]);
      if (!children) continue;
      for (const auto& w : nodesOf(*children)) {
        std::optional<AtspiStates> s = statesOf(*w);
        if (!s || !s->has(ATSPI_STATE_ACTIVE)) continue;
        FrontmostApplication found;
        found.pid = appNodes[i]->pid;
        found.name = applicationName(apps[i]);
        return found;
      }
    }
    return std::nullopt;
  }

  // The action a press performs: the first of the names toolkits give a button's, a check box's
  // or a link's action (GTK "click", Qt "Press" and "Toggle"), compared without case.
  static std::optional<int32_t> pressAction(GVariant* reply) {
    static const char* const kNames[] = {"press", "click", "activate", "toggle", "jump", "open"};
    VariantPtr list = childOf(reply, 0);
    const gsize count = g_variant_n_children(list.get());
    for (const char* wanted : kNames) {
      for (gsize i = 0; i < count; ++i) {
        const char* name = nullptr;
        g_variant_get_child(list.get(), i, "(&s&s&s)", &name, nullptr, nullptr);
        if (name && g_ascii_strcasecmp(name, wanted) == 0) return static_cast<int32_t>(i);
      }
    }
    return std::nullopt;
  }

  // X11's first screen is the root window, which spans every monitor (RandR places them side by
  // side in it). Its frame is what the walk prunes against, so an application on a second
  // monitor keeps its records, and their centres are root-window pixels, the points a click
  // uses. The monitors are not screens of their own on X11. Read once; none without a display.
  const std::vector<Rect>& x11Screens() {
    if (!rootScreens_) {
      rootScreens_.emplace();
      if (auto root = x11_.root()) {
        rootScreens_->push_back(
            Rect{0, 0, static_cast<double>(root->width), static_cast<double>(root->height)});
      }
    }
    return *rootScreens_;
  }

  // Declared in the order they must be built: the queue before what sends through it.
  mevrik::desktop::x11::FactsReader x11_;
  std::optional<std::vector<Rect>> rootScreens_;
  std::unique_ptr<mevrik::desktop::sway::Ipc> sway_;      // in a sway session
  std::unique_ptr<mevrik::desktop::gnome::Shell> gnome_;  // in a GNOME Shell session
  std::optional<mevrik::desktop::kde::Workspace> kwin_;   // in a KWin session, read at the start
  std::optional<std::vector<Rect>> outputs_;
  std::vector<double> outputScales_;    // each output's scale, as outputs_
  std::optional<double> monitorScale_;  // of the monitor the target window is on (GNOME Shell)
  std::unique_ptr<BusWire> session_;
  std::unique_ptr<BusWire> a11y_;
  std::vector<std::unique_ptr<BusWire>>
      direct_;              // to the frontmost application's own server, if it has one
  std::string directName_;  // that application's name on the bus
  bool lookup_ = false;     // see prepareLookup
  bool sessionTried_ = false;
  bool a11yTried_ = false;
  std::optional<std::string> a11yAddress_;  // the launcher's answer, once asked
  Element directApp_;  // the application reached on its own socket (directApplication)
  RequestQueue queue_{[this] { return a11y(); }};
  Prefetcher tree_{queue_, [this](Node& n) { return onScreen(n); }};
  ActiveWindowState active_;
  AttributeContext context_{queue_, tree_, active_};
  std::optional<std::vector<Element>> applications_;
  // The window the run reads (X11's or the compositor's id), and what the window system says of it.
  unsigned long targetWindow_ = 0;
  mevrik::desktop::x11::WindowFacts targetFacts_;
  int actionTimeoutMs_ = kDefaultTimeoutMs;
};

}  // namespace

std::unique_ptr<Platform> createSystemPlatform() {
  return std::make_unique<AtspiPlatform>();
}

}  // namespace ax
