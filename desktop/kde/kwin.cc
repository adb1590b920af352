#include "desktop/kde/kwin.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "desktop/dbus/bus.h"

namespace mevrik::desktop::kde {
namespace {

using nlohmann::json;

constexpr char kKWin[] = "org.kde.KWin";
constexpr char kAnswerPath[] = "/com/fennick/Mevrik/KWin";
constexpr char kAnswerInterface[] = "com.fennick.Mevrik.KWin";
constexpr int kCallTimeoutMs = 2000;
constexpr int kScriptTimeoutMs = 5000;

// The workspace as the scripts answer it: windows bottom of the stack first, with their frame
// (what the user sees and a click reaches) and their buffer, whose origin is the surface's
// (client-side shadows included), whether it is minimized, and the outputs' areas and the
// pointer's position. A window's id is the first 52 bits of KWin's UUID for it, which a script's
// numbers hold exactly.
constexpr char kPrologue[] = R"JS(
(function () {
  function box(g) {
    return {x: Math.round(g.x), y: Math.round(g.y), width: Math.round(g.width),
            height: Math.round(g.height)};
  }
  function idOf(c) {
    return parseInt(String(c.internalId).replace(/[^0-9a-fA-F]/g, "").slice(0, 13), 16);
  }
  var all = workspace.clientList(), clients = [];
  for (var i = 0; i < all.length; ++i) {
    var c = all[i];
    if (c && !c.deleted && (c.normalWindow || c.dialog)) clients.push(c);
  }
  clients.sort(function (a, b) { return a.stackingOrder - b.stackingOrder; });
)JS";

constexpr char kEpilogue[] = R"JS(
  var windows = [];
  for (var i = 0; i < clients.length; ++i) {
    var c = clients[i];
    windows.push({id: idOf(c), pid: c.pid, title: String(c.caption),
                  app_id: String(c.resourceClass), frame: box(c.frameGeometry),
                  buffer: box(c.bufferGeometry), focused: c.active, minimized: c.minimized});
  }
  var outputs = [];
  try {
    for (var s = 0; s < workspace.numScreens; ++s)
      outputs.push(box(workspace.clientArea(KWin.ScreenArea, s, workspace.currentDesktop)));
  } catch (e) {
    outputs = [box(workspace.virtualScreenGeometry)];
  }
  var cursor = null;
  if (workspace.cursorPos) cursor = {x: workspace.cursorPos.x, y: workspace.cursorPos.y};
  callDBus(SERVICE, PATH, INTERFACE, "Answer", JSON.stringify(windows),
           JSON.stringify({outputs: outputs, cursor: cursor}));
})();
)JS";

int64_t number(const json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_number() ? it->get<int64_t>() : 0;
}

Box boxOf(const json& o) {
  return {number(o, "x"), number(o, "y"), number(o, "width"), number(o, "height")};
}

std::string quoted(std::string_view text) {
  return json(std::string(text)).dump();
}

struct Answer {
  bool done = false;
  std::string windows, outputs;
};

void onAnswer(GDBusConnection*, const char*, const char*, const char*, const char* method,
              GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  auto* answer = static_cast<Answer*>(data);
  if (g_strcmp0(method, "Answer") == 0 &&
      g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
    const char* windows = nullptr;
    const char* outputs = nullptr;
    g_variant_get(parameters, "(&s&s)", &windows, &outputs);
    answer->windows = windows;
    answer->outputs = outputs;
    answer->done = true;
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* callKWin(GDBusConnection* bus, const char* path, const char* interface,
                   const char* method, GVariant* arguments, const char* replyType) {
  return g_dbus_connection_call_sync(bus, kKWin, path, interface, method, arguments,
                                     replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr,
                                     nullptr);
}

void unload(GDBusConnection* bus, const std::string& plugin) {
  if (GVariant* r = callKWin(bus, "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                             g_variant_new("(s)", plugin.c_str()), nullptr)) {
    g_variant_unref(r);
  }
}

}  // namespace

Workspace workspaceOf(std::string_view windowsJson, std::string_view screenJson) {
  Workspace out;
  const json windows = json::parse(windowsJson, nullptr, false);
  if (windows.is_array()) {
    for (const json& o : windows) {
      if (!o.is_object() || !o.contains("frame") || !o["frame"].is_object()) continue;
      Window w;
      w.id = number(o, "id");
      w.pid = static_cast<int32_t>(number(o, "pid"));
      if (o.contains("title") && o["title"].is_string()) w.title = o["title"];
      if (o.contains("app_id") && o["app_id"].is_string()) w.appId = o["app_id"];
      w.content = w.frame = boxOf(o["frame"]);
      const bool buffer = o.contains("buffer") && o["buffer"].is_object();
      w.surfaceX = buffer ? number(o["buffer"], "x") : w.content.x;
      w.surfaceY = buffer ? number(o["buffer"], "y") : w.content.y;
      w.focused = o.value("focused", false) == true;
      w.visible = o.value("minimized", false) != true;
      out.windows.push_back(std::move(w));
    }
  }
  const json screen = json::parse(screenJson, nullptr, false);
  if (!screen.is_object()) return out;
  if (const auto cursor = screen.find("cursor"); cursor != screen.end() && cursor->is_object())
    out.cursor = std::make_pair(number(*cursor, "x"), number(*cursor, "y"));
  if (const auto outputs = screen.find("outputs"); outputs != screen.end() && outputs->is_array()) {
    for (const json& o : *outputs) {
      if (!o.is_object()) continue;
      Output output;
      output.area = boxOf(o);
      if (output.area.width > 0 && output.area.height > 0) out.outputs.push_back(output);
    }
  }
  return out;
}

std::unique_ptr<KWin> KWin::connect(std::string& error) {
  std::string why;
  if (GDBusConnection* bus = dbus::sessionBusWith(kKWin, kCallTimeoutMs, why)) {
    return std::unique_ptr<KWin>(new KWin(bus));
  }
  error = why.empty() ? "KWin is not on the session bus (org.kde.KWin)" : "no session bus: " + why;
  return nullptr;
}

KWin::~KWin() {
  g_object_unref(bus_);
}

std::optional<Workspace> KWin::read(bool withMinimized) {
  auto answer = runScript(std::string(kPrologue) + kEpilogue, kScriptTimeoutMs);
  if (!answer) return std::nullopt;
  Workspace workspace = workspaceOf(answer->first, answer->second);
  if (!withMinimized) {
    std::erase_if(workspace.windows, [](const Window& w) { return !w.visible; });
  }
  return workspace;
}

bool KWin::activate(int64_t id) {
  const std::string body = std::string(kPrologue) +
                           "  for (var i = 0; i < clients.length; ++i) {\n" +
                           "    if (idOf(clients[i]) !== " + std::to_string(id) + ") continue;\n" +
                           "    clients[i].minimized = false;\n" +
                           "    workspace.activeClient = clients[i];\n  }\n" + kEpilogue;
  auto answer = runScript(body, kScriptTimeoutMs);
  if (!answer) return false;
  for (const Window& w : workspaceOf(answer->first, answer->second).windows) {
    if (w.id == id) return w.focused;
  }
  return false;
}

std::optional<Screenshot> KWin::capture(const Box& area, std::string& error) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    error = "cannot make a pipe for the picture";
    return std::nullopt;
  }
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GUnixFDList* fds = g_unix_fd_list_new_from_array(&ends[1], 1);  // takes the write end
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
  struct Reply {
    bool done = false;
    GVariant* value = nullptr;
    std::string error;
  } reply;
  // KWin writes the picture into the pipe from a thread of its own, and may answer before or
  // after: the pipe is drained while the answer is awaited, so that neither side waits on the
  // other.
  g_dbus_connection_call_with_unix_fd_list(
      bus_, kKWin, "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea",
      g_variant_new("(iiuua{sv}h)", static_cast<gint32>(area.x), static_cast<gint32>(area.y),
                    static_cast<guint32>(area.width), static_cast<guint32>(area.height), &options,
                    0),
      G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kScriptTimeoutMs, fds, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* r = static_cast<Reply*>(data);
        GError* failure = nullptr;
        r->value = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                                   nullptr, result, &failure);
        if (failure) {
          r->error = failure->message;
          g_error_free(failure);
        }
        r->done = true;
      },
      &reply);
  g_object_unref(fds);

  std::vector<uint8_t> data;
  bool ended = false;
  uint64_t expected = 0;  // known once the answer says the picture's size
  const gint64 end = g_get_monotonic_time() + static_cast<gint64>(kScriptTimeoutMs) * 1000;
  while (g_get_monotonic_time() < end) {
    while (g_main_context_iteration(context, FALSE)) {
    }
    if (reply.done && (!reply.value || ended || (expected > 0 && data.size() >= expected))) break;
    if (reply.done && reply.value && expected == 0) {
      guint32 height = 0, stride = 0;
      GVariant* results = g_variant_get_child_value(reply.value, 0);
      g_variant_lookup(results, "height", "u", &height);
      g_variant_lookup(results, "stride", "u", &stride);
      g_variant_unref(results);
      expected = static_cast<uint64_t>(height) * stride;
      continue;
    }
    pollfd ready{ends[0], POLLIN, 0};
    if (ended || poll(&ready, 1, 20) <= 0) {
      if (ended) g_main_context_iteration(context, TRUE);
      continue;
    }
    uint8_t chunk[65536];
    const ssize_t n = ::read(ends[0], chunk, sizeof chunk);
    if (n > 0) {
      data.insert(data.end(), chunk, chunk + n);
    } else if (n == 0 || errno != EINTR) {
      ended = true;
    }
  }
  close(ends[0]);
  std::optional<Screenshot> shot;
  if (!reply.done) {
    error = "KWin's screenshot interface did not answer";
  } else if (!reply.value) {
    error = "KWin refused the screenshot (" + reply.error + ")";
  } else {
    guint32 width = 0, height = 0, stride = 0, format = 0;
    const char* type = "";
    GVariant* results = g_variant_get_child_value(reply.value, 0);
    g_variant_lookup(results, "width", "u", &width);
    g_variant_lookup(results, "height", "u", &height);
    g_variant_lookup(results, "stride", "u", &stride);
    g_variant_lookup(results, "format", "u", &format);
    g_variant_lookup(results, "type", "&s", &type);
    // QImage's formats: 4-6 are 32-bit 0xAARRGGBB words (B, G, R, A in memory here), 16-18
    // are R, G, B, A bytes.
    const bool bgra = format >= 4 && format <= 6;
    const bool rgba = format >= 16 && format <= 18;
    if (g_strcmp0(type, "raw") != 0 || (!bgra && !rgba) || width == 0 || height == 0 ||
        stride < width * 4 || data.size() < static_cast<uint64_t>(stride) * height) {
      error = "KWin's picture came in a form this program does not read";
    } else {
      shot.emplace();
      shot->width = width;
      shot->height = height;
      shot->rgb.resize(static_cast<size_t>(width) * height * 3);
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = data.data() + static_cast<size_t>(y) * stride;
        uint8_t* out = shot->rgb.data() + static_cast<size_t>(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x) {
          const uint8_t* p = row + x * 4;
          out[x * 3] = bgra ? p[2] : p[0];
          out[x * 3 + 1] = p[1];
          out[x * 3 + 2] = bgra ? p[0] : p[2];
        }
      }
    }
    g_variant_unref(results);
    g_variant_unref(reply.value);
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return shot;
}

std::optional<std::pair<std::string, std::string>> KWin::runScript(const std::string& body,
                                                                   int timeoutMs) {
  static const char kIntrospection[] =
      "<node><interface name='com.fennick.Mevrik.KWin'><method name='Answer'>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/></method></interface></node>";
  const char* unique = g_dbus_connection_get_unique_name(bus_);
  if (!unique) return std::nullopt;
  std::string script = "var SERVICE = " + quoted(unique) + ", PATH = " + quoted(kAnswerPath) +
                       ", INTERFACE = " + quoted(kAnswerInterface) + ";\n" + body;

  // KWin reads the script from a file.
  const char* runtime = g_get_user_runtime_dir();
  std::string path = std::string(runtime ? runtime : "/tmp") + "/mevrik-kwin-XXXXXX.js";
  const int fd = mkstemps(path.data(), 3);
  if (fd < 0) return std::nullopt;
  const bool written =
      write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
  close(fd);
  if (!written) {
    unlink(path.c_str());
    return std::nullopt;
  }

  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  Answer answer;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable kVTable = {onAnswer, nullptr, nullptr, {}};
  const guint registration = g_dbus_connection_register_object(
      bus_, kAnswerPath, node->interfaces[0], &kVTable, &answer, nullptr, nullptr);

  static int serial = 0;
  const std::string plugin = "mevrik-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  bool ran = false;
  if (registration != 0) {
    GVariant* loaded = callKWin(bus_, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                                g_variant_new("(ss)", path.c_str(), plugin.c_str()), "(i)");
    if (loaded) {
      gint32 id = -1;
      g_variant_get(loaded, "(i)", &id);
      g_variant_unref(loaded);
      const std::string object = "/" + std::to_string(id);
      if (id >= 0) {
        if (GVariant* r =
                callKWin(bus_, object.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr)) {
          g_variant_unref(r);
          ran = true;
        }
      }
    }
  }
  if (ran) {
    const gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    while (!answer.done && g_get_monotonic_time() < end) {
      GSource* tick = g_timeout_source_new(20);
      g_source_set_callback(
          tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      g_source_attach(tick, context);
      g_main_context_iteration(context, TRUE);
      g_source_destroy(tick);
      g_source_unref(tick);
    }
  }
  unload(bus_, plugin);
  unlink(path.c_str());
  if (registration != 0) g_dbus_connection_unregister_object(bus_, registration);
  g_dbus_node_info_unref(node);
  while (g_main_context_iteration(context, FALSE)) {
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  if (!answer.done) return std::nullopt;
  return std::make_pair(std::move(answer.windows), std::move(answer.outputs));
}

}  // namespace mevrik::desktop::kde
