#include "desktop/gnome/shell.h"

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "desktop/dbus/bus.h"

namespace mevrik::desktop::gnome {
namespace {

using nlohmann::json;

constexpr char kName[] = "com.fennick.Mevrik.Shell";
constexpr char kPath[] = "/com/fennick/Mevrik/Shell";
constexpr char kInterface[] = "com.fennick.Mevrik.Shell";
// The shell answers from its main loop, which a window being mapped, or painting in software on a
// busy machine, can hold for seconds; a shell that takes longer has frozen the desktop anyway.
constexpr int kTimeoutMs = 10000;
// Added for each key event of a TypeKeys call, which the shell may pace.
constexpr int kKeyTimeoutMs = 50;
// The shell paints and encodes a screenshot itself; a large screen on a busy machine takes a while.
constexpr int kScreenshotTimeoutMs = 20000;

const json& field(const json& object, const char* name) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(name);
  return it == object.end() ? kNull : *it;
}

int64_t number(const json& object, const char* name) {
  const json& value = field(object, name);
  return value.is_number() ? value.get<int64_t>() : 0;
}

std::string text(const json& object, const char* name) {
  const json& value = field(object, name);
  return value.is_string() ? value.get<std::string>() : std::string();
}

std::optional<Window> parseWindow(const json& o) {
  const json& frame = field(o, "frame");
  const json& buffer = field(o, "buffer");
  if (!field(o, "id").is_number() || !frame.is_object()) return std::nullopt;
  Window w;
  w.id = number(o, "id");
  w.pid = static_cast<int32_t>(number(o, "pid"));
  w.title = text(o, "title");
  w.appId = text(o, "app_id");
  w.content = {number(frame, "x"), number(frame, "y"), number(frame, "width"),
               number(frame, "height")};
  w.surfaceX = buffer.is_object() ? number(buffer, "x") : w.content.x;
  w.surfaceY = buffer.is_object() ? number(buffer, "y") : w.content.y;
  if (buffer.is_object()) w.surfaceWidth = number(buffer, "width");
  w.frame = w.content;
  w.focused = field(o, "focused") == true;
  // Minimized windows are out of sight as sway's scratchpad keeps them.
  w.putAway = field(o, "minimized") == true;
  w.visible = field(o, "shown") != false;
  if (field(o, "workspace").is_number()) w.workspace = number(o, "workspace");
  w.xwayland = field(o, "xwayland") == true;
  return w;
}

std::optional<std::string> textOf(GVariant* reply) {
  if (!reply) return std::nullopt;
  const char* value = nullptr;
  g_variant_get(reply, "(&s)", &value);
  std::string out = value;
  g_variant_unref(reply);
  return out;
}

std::optional<bool> boolOf(GVariant* reply) {
  if (!reply) return std::nullopt;
  gboolean value = FALSE;
  g_variant_get(reply, "(b)", &value);
  g_variant_unref(reply);
  return value != FALSE;
}

}  // namespace

// Calls a method and gives its reply, or none when the call failed.
GVariant* Shell::call(const char* method, GVariant* arguments, const char* replyType,
                      int timeoutMs) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kName, kPath, kInterface, method, arguments, G_VARIANT_TYPE(replyType),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs > 0 ? timeoutMs : kTimeoutMs, nullptr, &error);
  lastError_.clear();
  if (error) {
    lastError_ = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD)
                     ? "the extension running in this session is older than this program: log "
                       "out and log in once to start the installed one"
                     : error->message;
    g_error_free(error);
  }
  return reply;
}

// Without a callback GDBus asks for no reply, and the message leaves in order with the calls.
void Shell::send(const char* method, GVariant* arguments) {
  g_dbus_connection_call(bus_, kName, kPath, kInterface, method, arguments, nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

std::vector<Window> windowsOf(std::string_view text) {
  std::vector<Window> out;
  const json list = json::parse(text, nullptr, false);
  if (!list.is_array()) return out;
  for (const json& o : list) {
    if (std::optional<Window> w = parseWindow(o)) out.push_back(std::move(*w));
  }
  return out;
}

std::optional<Window> windowOf(std::string_view text) {
  return parseWindow(json::parse(text, nullptr, false));
}

std::vector<Output> outputsOf(std::string_view text) {
  std::vector<Output> out;
  const json list = json::parse(text, nullptr, false);
  if (!list.is_array()) return out;
  for (const json& o : list) {
    if (number(o, "width") <= 0 || number(o, "height") <= 0) continue;
    Output output;
    output.area = {number(o, "x"), number(o, "y"), number(o, "width"), number(o, "height")};
    const json& scale = field(o, "scale");
    if (scale.is_number() && scale.get<double>() > 0) output.scale = scale.get<double>();
    out.push_back(output);
  }
  return out;
}

std::optional<Keyboard> keyboardOf(std::string_view reply) {
  const json o = json::parse(reply, nullptr, false);
  if (!o.is_object()) return std::nullopt;
  Keyboard keyboard;
  keyboard.inputMethod = field(o, "input_method") == true;
  keyboard.group = static_cast<uint32_t>(std::max<int64_t>(0, number(o, "group")));
  return keyboard;
}

std::string refusal(std::string_view tool, std::string_view why, std::string_view tail) {
  std::string line = "Wayland session: ";
  line += tool;
  line += " needs Mevrik's GNOME Shell extension to see the windows (";
  line += why;
  line +=
      "): install it with the setup program's accessibility step or "
      "scripts/install_gnome_extension.sh in Mevrik's product folder, then log out and log in "
      "once; ";
  line += tail;
  return line;
}

std::unique_ptr<Shell> Shell::connect(std::string& error) {
  std::string why;
  if (GDBusConnection* bus = dbus::sessionBusWith(kName, kTimeoutMs, why)) {
    return std::unique_ptr<Shell>(new Shell(bus));
  }
  error = why.empty() ? "the extension is not running in this session"
                      : "no session bus to reach GNOME Shell (" + why + ")";
  return nullptr;
}

Shell::~Shell() {
  // Messages sent without waiting must leave before the connection goes.
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  g_object_unref(bus_);
}

std::optional<std::vector<Window>> Shell::windows() {
  const std::optional<std::string> reply = textOf(call("ListWindows", nullptr, "(s)"));
  if (!reply) return std::nullopt;
  return windowsOf(*reply);
}

std::optional<Window> Shell::focused() {
  const std::optional<std::string> reply = textOf(call("FocusedWindow", nullptr, "(s)"));
  if (!reply) return std::nullopt;
  return windowOf(*reply);
}

bool Shell::activate(int64_t id) {
  GVariant* reply = call("Activate", g_variant_new("(t)", static_cast<guint64>(id)), "(b)");
  if (!reply) return false;
  gboolean found = FALSE;
  g_variant_get(reply, "(b)", &found);
  g_variant_unref(reply);
  return found;
}

std::optional<Point> Shell::pointer() {
  GVariant* reply = call("GetPointer", nullptr, "(ii)");
  if (!reply) return std::nullopt;
  gint32 x = 0;
  gint32 y = 0;
  g_variant_get(reply, "(ii)", &x, &y);
  g_variant_unref(reply);
  return Point{x, y};
}

bool Shell::windowAt(double x, double y, std::optional<Window>& window) {
  const std::optional<std::string> reply =
      textOf(call("WindowAt", g_variant_new("(dd)", x, y), "(s)"));
  if (!reply) return false;
  window = windowOf(*reply);
  return true;
}

std::optional<bool> Shell::pointerMotion(double x, double y) {
  return boolOf(call("PointerMotion", g_variant_new("(dd)", x, y), "(b)"));
}

void Shell::pointerButton(uint32_t button, bool pressed) {
  send("PointerButton", g_variant_new("(ub)", button, pressed));
}

void Shell::pointerScroll(int32_t horizontal, int32_t vertical) {
  send("PointerScroll", g_variant_new("(ii)", horizontal, vertical));
}

bool Shell::keys(const std::vector<std::pair<uint32_t, bool>>& events) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ub)"));
  for (const auto& [keysym, pressed] : events) {
    g_variant_builder_add(&builder, "(ub)", keysym, static_cast<gboolean>(pressed));
  }
  GVariant* reply = call("Keys", g_variant_new("(a(ub))", &builder), "()");
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

std::optional<bool> Shell::commitText(const std::string& text) {
  return boolOf(call("CommitText", g_variant_new("(s)", text.c_str()), "(b)"));
}

std::optional<Keyboard> Shell::keyboard() {
  const std::optional<std::string> reply = textOf(call("Keyboard", nullptr, "(s)"));
  if (!reply) return std::nullopt;
  return keyboardOf(*reply);
}

std::optional<bool> Shell::typeKeys(const std::vector<std::pair<uint32_t, bool>>& events,
                                    const std::vector<std::pair<std::string, uint32_t>>& bindings) {
  GVariantBuilder keys;
  g_variant_builder_init(&keys, G_VARIANT_TYPE("a(ub)"));
  for (const auto& [code, pressed] : events) {
    g_variant_builder_add(&keys, "(ub)", code, static_cast<gboolean>(pressed));
  }
  GVariantBuilder bound;
  g_variant_builder_init(&bound, G_VARIANT_TYPE("a(su)"));
  for (const auto& [name, keysym] : bindings) {
    g_variant_builder_add(&bound, "(su)", name.c_str(), keysym);
  }
  // The shell paces the keys around modifier changes, and a busy one takes longer for each.
  const int timeoutMs = kTimeoutMs + kKeyTimeoutMs * static_cast<int>(events.size());
  return boolOf(call("TypeKeys", g_variant_new("(a(ub)a(su))", &keys, &bound), "(b)", timeoutMs));
}

std::optional<int64_t> Shell::activeWorkspace() {
  GVariant* reply = call("ActiveWorkspace", nullptr, "(i)");
  if (!reply) return std::nullopt;
  gint32 index = 0;
  g_variant_get(reply, "(i)", &index);
  g_variant_unref(reply);
  return index;
}

std::optional<std::vector<Output>> Shell::outputs() {
  const std::optional<std::string> reply = textOf(call("ListMonitors", nullptr, "(s)"));
  if (!reply) return std::nullopt;
  return outputsOf(*reply);
}

// Mutter's own display configuration says how it lays the monitors out: "layout-mode" 1 is in
// points, 2 in the monitors' pixels (GNOME 43's default, and what a Mutter without the property
// does).
std::optional<bool> Shell::layoutInPoints() {
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
      "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr, nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, nullptr);
  if (!reply) return std::nullopt;
  std::optional<bool> inPoints;
  if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(ua((ssss)a(siiddada{sv})a{sv})"
                                                 "a(iiduba(ssss)a{sv})a{sv})"))) {
    GVariant* properties = g_variant_get_child_value(reply, 3);
    guint32 mode = 2;
    g_variant_lookup(properties, "layout-mode", "u", &mode);
    inPoints = mode == 1;
    g_variant_unref(properties);
  }
  g_variant_unref(reply);
  return inPoints;
}

std::optional<std::string> Shell::screenshot(const Box& area, std::string& error) {
  GError* failure = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kName, kPath, kInterface, "Screenshot",
      g_variant_new("(iiii)", static_cast<gint32>(area.x), static_cast<gint32>(area.y),
                    static_cast<gint32>(area.width), static_cast<gint32>(area.height)),
      G_VARIANT_TYPE("(ay)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kScreenshotTimeoutMs, nullptr,
      &failure);
  if (!reply) {
    error = "no answer";
    if (failure) {
      // The reason the shell gave, without GIO's prefix naming the D-Bus error.
      g_dbus_error_strip_remote_error(failure);
      error = failure->message;
      g_error_free(failure);
    }
    return std::nullopt;
  }
  GVariant* bytes = g_variant_get_child_value(reply, 0);
  gsize size = 0;
  const void* data = g_variant_get_fixed_array(bytes, &size, 1);
  std::string png(static_cast<const char*>(data), size);
  g_variant_unref(bytes);
  g_variant_unref(reply);
  return png;
}

void Shell::waitForChange(double seconds) {
  if (!subscription_) {
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, kName, kInterface, "Changed", kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           gpointer self) { static_cast<Shell*>(self)->changed_ = true; },
        this, nullptr);
  }
  // Signals are dispatched in this thread's main context, which runs only while we wait here.
  GMainContext* context = g_main_context_get_thread_default();
  bool timedOut = false;
  const auto ms = static_cast<guint>(std::ceil(std::clamp(seconds, 0.0, 3600.0) * 1000));
  GSource* timer = g_timeout_source_new(ms);
  g_source_set_callback(
      timer,
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timedOut, nullptr);
  g_source_attach(timer, context);
  while (!changed_ && !timedOut) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  changed_ = false;
}

}  // namespace mevrik::desktop::gnome
