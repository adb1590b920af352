#include "desktop/sway/ipc.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace mevrik::desktop::sway {
namespace {

using nlohmann::json;

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kRunCommand = 0;
constexpr uint32_t kGetOutputs = 3;
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

// A node is an application window when it has a process (XWayland windows too) or an app_id.
void collect(const json& node, std::vector<Window>& out) {
  if (!node.is_object()) return;
  const auto pid = static_cast<int32_t>(integer(node, "pid"));
  if (pid > 0 || field(node, "app_id").is_string()) {
    Window w;
    w.id = integer(node, "id");
    w.pid = pid;
    w.title = stringField(node, "name");
    w.appId = stringField(node, "app_id");
    const Box rect = boxOf(field(node, "rect"));
    const Box inner = boxOf(field(node, "window_rect"));
    const Box geometry = boxOf(field(node, "geometry"));
    w.content = Box{rect.x + inner.x, rect.y + inner.y, inner.width, inner.height};
    // `geometry` places the client's window geometry inside its surface (x, y > 0 when the
    // surface has shadows around it).
    w.surfaceX = w.content.x - geometry.x;
    w.surfaceY = w.content.y - geometry.y;
    w.focused = boolean(node, "focused");
    out.push_back(std::move(w));
  }
  for (const char* key : {"nodes", "floating_nodes"}) {
    const json& children = field(node, key);
    if (!children.is_array()) continue;
    for (const json& child : children) collect(child, out);
  }
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

std::optional<std::vector<Window>> Ipc::windows() {
  std::optional<std::string> tree = request(kGetTree);
  if (!tree) return std::nullopt;
  return windowsOfTree(*tree);
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

std::vector<Window> windowsOfTree(std::string_view text) {
  std::vector<Window> out;
  collect(json::parse(text, nullptr, false), out);
  return out;
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
