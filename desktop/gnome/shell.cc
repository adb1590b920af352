#include "desktop/gnome/shell.h"

#include <gio/gio.h>

#include <nlohmann/json.hpp>

namespace mevrik::desktop::gnome {
namespace {

using nlohmann::json;

constexpr char kName[] = "com.fennick.Mevrik.Shell";
constexpr char kPath[] = "/com/fennick/Mevrik/Shell";
constexpr char kInterface[] = "com.fennick.Mevrik.Shell";
constexpr int kTimeoutMs = 2000;

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
  w.focused = field(o, "focused") == true;
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
GVariant* Shell::call(const char* method, GVariant* arguments, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kName, kPath, kInterface, method, arguments, G_VARIANT_TYPE(replyType),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
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

std::unique_ptr<Shell> Shell::connect(std::string& error) {
  GError* failure = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
  if (!bus) {
    error = std::string("no session bus to reach GNOME Shell (") +
            (failure ? failure->message : "unknown error") + ")";
    if (failure) g_error_free(failure);
    return nullptr;
  }
  std::unique_ptr<Shell> shell(new Shell(bus));
  GVariant* owner = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", kName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs,
      nullptr, nullptr);
  gboolean running = FALSE;
  if (owner) {
    g_variant_get(owner, "(b)", &running);
    g_variant_unref(owner);
  }
  if (!running) {
    error =
        "Mevrik's GNOME Shell extension is not running (run scripts/install_gnome_extension.sh, "
        "then log out and log in once)";
    return nullptr;
  }
  return shell;
}

Shell::~Shell() {
  // Messages sent without waiting must leave before the connection goes.
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
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

}  // namespace mevrik::desktop::gnome
