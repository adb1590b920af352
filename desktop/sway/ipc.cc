#include "desktop/sway/ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace mevrik::desktop::sway {
namespace {

using nlohmann::json;

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kRunCommand = 0;
constexpr uint32_t kGetOutputs = 3;
constexpr uint32_t kSubscribe = 2;
constexpr uint32_t kGetTree = 4;

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool readAll(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Fields read without exceptions: a field of another type than expected counts as absent.
const json& field(const json& object, const char* key) {
  static const json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}
int64_t integer(const json& object, const char* key) {
  const json& v = field(object, key);
  return v.is_number() ? v.get<int64_t>() : 0;
}
bool boolean(const json& object, const char* key) {
  const json& v = field(object, key);
  return v.is_boolean() && v.get<bool>();
}
std::string stringField(const json& object, const char* key) {
  const json& v = field(object, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}

Box boxOf(const json& rect) {
  return Box{integer(rect, "x"), integer(rect, "y"), integer(rect, "width"),
             integer(rect, "height")};
}

// How a window is stacked on its workspace: fullscreen above floating above tiled.
enum Layer { kFullscreen, kFloating, kTiled };

// What a node inherits from the containers above it.
struct Context {
  std::optional<int64_t> workspace;
  bool putAway = false;
  Layer layer = kTiled;
  int64_t drawn = 0;  // floating windows: the order sway draws them in (the last one on top)
};

struct Found {
  Window window;
  Layer layer;
  int64_t drawn;
};

struct Walk {
  std::vector<Found> found;
  std::optional<int64_t> currentWorkspace;
  bool workspaceSeen = false;
};

struct Child {
  const json* node;
  int64_t drawn;  // its place in the floating list, -1 for a tiled child
};

// A node's children (tiled and floating), the most recently focused first as its "focus" list
// says, the others after them in tree order.
std::vector<Child> childrenByFocus(const json& node) {
  std::vector<Child> children;
  for (const char* key : {"nodes", "floating_nodes"}) {
    const json& list = field(node, key);
    if (!list.is_array()) continue;
    int64_t index = 0;
    for (const json& child : list) {
      children.push_back(Child{&child, key[0] == 'f' ? index++ : -1});
    }
  }
  const json& focus = field(node, "focus");
  std::vector<Child> ordered;
  if (focus.is_array()) {
    for (const json& id : focus) {
      for (Child& child : children) {
        if (child.node && id.is_number() && integer(*child.node, "id") == id.get<int64_t>()) {
          ordered.push_back(child);
          child.node = nullptr;
        }
      }
    }
  }
  for (const Child& child : children) {
    if (child.node) ordered.push_back(child);
  }
  return ordered;
}

// A node is an application window when it has a process (XWayland windows too) or an app_id.
void collect(const json& node, int64_t drawn, Context context, Walk& walk) {
  if (!node.is_object()) return;
  const std::string type = stringField(node, "type");
  if (type == "workspace") {
    const std::string name = stringField(node, "name");
    context.putAway = name == "__i3_scratch";
    const json& num = field(node, "num");
    context.workspace.reset();
    if (num.is_number() && num.get<int64_t>() >= 0) context.workspace = num.get<int64_t>();
    // Walked in focus order: the first workspace met is the focused one.
    if (!context.putAway && !walk.workspaceSeen) {
      walk.workspaceSeen = true;
      walk.currentWorkspace = context.workspace;
    }
  }
  if (drawn >= 0 && context.layer == kTiled) {
    context.layer = kFloating;
    context.drawn = drawn;
  }
  if (integer(node, "fullscreen_mode") > 0) context.layer = kFullscreen;
  const auto pid = static_cast<int32_t>(integer(node, "pid"));
  if (pid > 0 || field(node, "app_id").is_string()) {
    Window w;
    w.id = integer(node, "id");
    w.pid = pid;
    w.title = stringField(node, "name");
    w.appId = stringField(node, "app_id");
    // XWayland windows have no app_id; their X11 class stands for it.
    if (w.appId.empty()) w.appId = stringField(field(node, "window_properties"), "class");
    const Box rect = boxOf(field(node, "rect"));
    const Box inner = boxOf(field(node, "window_rect"));
    const Box geometry = boxOf(field(node, "geometry"));
    w.frame = rect;
    w.content = Box{rect.x + inner.x, rect.y + inner.y, inner.width, inner.height};
    // `geometry` places the client's window geometry inside its surface (x, y > 0 when the
    // surface has shadows around it).
    w.surfaceX = w.content.x - geometry.x;
    w.surfaceY = w.content.y - geometry.y;
    w.focused = boolean(node, "focused");
    w.xwayland = stringField(node, "shell") == "xwayland";
    const json& visible = field(node, "visible");
    w.visible = visible.is_boolean() ? visible.get<bool>() : !context.putAway;
    w.putAway = context.putAway;
    w.workspace = context.workspace;
    walk.found.push_back(Found{std::move(w), context.layer, context.drawn});
  }
  for (const Child& child : childrenByFocus(node)) collect(*child.node, child.drawn, context, walk);
}

}  // namespace

std::unique_ptr<Ipc> Ipc::connect(std::string& error) {
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path) {
    error = "SWAYSOCK is not set, so sway's IPC cannot be reached";
    return nullptr;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof(address.sun_path)) {
    error = "SWAYSOCK names a path too long for a socket";
    return nullptr;
  }
  std::strcpy(address.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = std::string("sway's IPC socket ") + path + " does not answer: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Ipc>(new Ipc(fd));
}

Ipc::~Ipc() {
  ::close(fd_);
}

std::optional<std::string> Ipc::request(uint32_t type, std::string_view payload) {
  std::string message(kMagic, sizeof kMagic);
  const auto length = static_cast<uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof length);
  message.append(reinterpret_cast<const char*>(&type), sizeof type);
  message.append(payload);
  if (!writeAll(fd_, message.data(), message.size())) return std::nullopt;
  char header[sizeof kMagic + 8];
  if (!readAll(fd_, header, sizeof header) || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  uint32_t size = 0;
  std::memcpy(&size, header + sizeof kMagic, sizeof size);
  std::string reply(size, '\0');
  if (!readAll(fd_, reply.data(), size)) return std::nullopt;
  return reply;
}

std::optional<Tree> Ipc::tree() {
  std::optional<std::string> reply = request(kGetTree);
  if (!reply) return std::nullopt;
  return treeOf(*reply);
}

std::optional<std::vector<Window>> Ipc::windows() {
  std::optional<Tree> all = tree();
  if (!all) return std::nullopt;
  return std::move(all->windows);
}

bool Ipc::subscribe(std::string_view events) {
  std::optional<std::string> reply = request(kSubscribe, events);
  if (!reply) return false;
  return boolean(json::parse(*reply, nullptr, false), "success");
}

bool Ipc::nextEvent(double seconds) {
  pollfd fd{fd_, POLLIN, 0};
  if (::poll(&fd, 1, static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000))) <= 0) {
    return false;
  }
  char header[sizeof kMagic + 8];
  if (!readAll(fd_, header, sizeof header)) return false;
  uint32_t size = 0;
  std::memcpy(&size, header + sizeof kMagic, sizeof size);
  std::string payload(size, '\0');
  return readAll(fd_, payload.data(), size);
}

std::optional<std::vector<Output>> Ipc::outputs() {
  std::optional<std::string> reply = request(kGetOutputs);
  if (!reply) return std::nullopt;
  return outputsOf(*reply);
}

bool Ipc::focus(int64_t id) {
  std::optional<std::string> reply =
      request(kRunCommand, "[con_id=" + std::to_string(id) + "] focus");
  if (!reply) return false;
  const json answer = json::parse(*reply, nullptr, false);
  return answer.is_array() && !answer.empty() && boolean(answer[0], "success");
}

Tree treeOf(std::string_view text) {
  Walk walk;
  collect(json::parse(text, nullptr, false), -1, Context{}, walk);
  std::stable_sort(walk.found.begin(), walk.found.end(), [](const Found& a, const Found& b) {
    if (a.window.visible != b.window.visible) return a.window.visible;
    // Hidden windows stay in the order of their last focus.
    if (!a.window.visible) return false;
    if (a.layer != b.layer) return a.layer < b.layer;
    return a.layer == kFloating && a.drawn > b.drawn;
  });
  Tree tree;
  tree.currentWorkspace = walk.currentWorkspace;
  for (Found& f : walk.found) tree.windows.push_back(std::move(f.window));
  return tree;
}

std::vector<Output> outputsOf(std::string_view text) {
  std::vector<Output> out;
  const json list = json::parse(text, nullptr, false);
  if (!list.is_array()) return out;
  for (const json& o : list) {
    if (!boolean(o, "active")) continue;
    Output output;
    output.name = stringField(o, "name");
    output.area = boxOf(field(o, "rect"));
    const json& scale = field(o, "scale");
    if (scale.is_number() && scale.get<double>() > 0) output.scale = scale.get<double>();
    out.push_back(std::move(output));
  }
  return out;
}

}  // namespace mevrik::desktop::sway
