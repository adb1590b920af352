#include "ax/atspi-bus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ax {
namespace {

constexpr size_t kHeaderBytes = 16;  // enough for g_dbus_message_bytes_needed

int64_t nowUs() {
  return g_get_monotonic_time();
}

// D-Bus address values escape bytes as %XX.
std::string unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      int hi = g_ascii_xdigit_value(value[i + 1]);
      int lo = g_ascii_xdigit_value(value[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

// A connected socket for one address entry ("unix:path=..." or "unix:abstract=..."), else -1.
int connectEntry(std::string_view entry) {
  constexpr std::string_view kUnix = "unix:";
  if (entry.substr(0, kUnix.size()) != kUnix) return -1;
  std::string path;
  bool abstract = false;
  std::string_view rest = entry.substr(kUnix.size());
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view pair = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = pair.substr(0, eq);
    if (key == "path" || key == "abstract") {
      path = unescape(pair.substr(eq + 1));
      abstract = key == "abstract";
    }
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof(addr.sun_path)) return -1;
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                            (abstract ? 0 : 1));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool waitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    int64_t left = (deadline - nowUs() + 999) / 1000;
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    if (n > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
    if (n < 0 && errno != EINTR) return false;
  }
}

struct MessageUnref {
  void operator()(GDBusMessage* m) const { g_object_unref(m); }
};
using MessagePtr = std::unique_ptr<GDBusMessage, MessageUnref>;

}  // namespace

std::unique_ptr<BusWire> BusWire::connect(const std::string& address, int timeoutMs, bool peer) {
  std::string_view rest = address;
  while (!rest.empty()) {
    size_t semi = rest.find(';');
    std::string_view entry = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    int fd = connectEntry(entry);
    if (fd < 0) continue;
    std::unique_ptr<BusWire> wire(new BusWire(fd, peer));
    if (wire->authenticate(timeoutMs)) return wire;
  }
  return nullptr;
}

BusWire::~BusWire() {
  close();
}

int32_t BusWire::peerPid() const {
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  if (fd_ < 0 || getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return 0;
  return credentials.pid;
}

void BusWire::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// The EXTERNAL mechanism (the bus knows our uid from the socket), then Hello, whose answer
// says the bus accepted us. A peer accepts with its OK line, which is not waited for: the first
// calls go out behind BEGIN (the server reads the handshake's lines, then messages, in order),
// and the line is taken off the front of what comes back.
bool BusWire::authenticate(int timeoutMs) {
  const int64_t deadline = nowUs() + int64_t{timeoutMs} * 1000;
  std::string uid = std::to_string(geteuid());
  std::string hex;
  static const char kDigits[] = "0123456789abcdef";
  for (unsigned char c : uid) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  // The handshake, BEGIN and Hello go out together: a bus reads a client's lines and then its
  // messages in order, so connecting costs one round trip.
  out_.assign(1, '\0');
  out_ += "AUTH EXTERNAL " + hex + "\r\nBEGIN\r\n";
  uint32_t hello = peer_ ? 0
                         : call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "Hello", nullptr, timeoutMs, false);
  if ((!peer_ && hello == 0) || !flush()) return false;
  if (peer_) {
    okPending_ = true;
    return fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) == 0;
  }
  std::string line;
  size_t end = std::string::npos;
  while ((end = line.find("\r\n")) == std::string::npos) {
    if (!waitFor(fd_, POLLIN, deadline)) return false;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof(buf), 0);
    if (n <= 0) return false;
    line.append(buf, static_cast<size_t>(n));
  }
  if (line.compare(0, 3, "OK ") != 0) return false;
  in_ = line.substr(end + 2);  // the start of the messages, Hello's answer first
  if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0) return false;
  return awaitAll({hello}).front() != nullptr;
}

uint32_t BusWire::call(const char* destination, const char* path, const char* iface,
                       const char* method, GVariant* params, int timeoutMs, bool autoStart) {
  if (fd_ < 0) {
    if (params) g_variant_unref(g_variant_ref_sink(params));
    return 0;
  }
  MessagePtr message(
      g_dbus_message_new_method_call(peer_ ? nullptr : destination, path, iface, method));
  if (params) g_dbus_message_set_body(message.get(), params);
  if (!autoStart) g_dbus_message_set_flags(message.get(), G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
  uint32_t serial = nextSerial_++;
  if (nextSerial_ == 0) nextSerial_ = 1;
  g_dbus_message_set_serial(message.get(), serial);
  gsize size = 0;
  guchar* blob =
      g_dbus_message_to_blob(message.get(), &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
  if (!blob) return 0;
  out_.append(reinterpret_cast<const char*>(blob), size);
  g_free(blob);
  deadlines_[serial] = nowUs() + int64_t{timeoutMs} * 1000;
  return serial;
}

// Writes as much of the queue as the socket takes now. False when the connection broke.
bool BusWire::flush() {
  while (!out_.empty()) {
    ssize_t n = send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) {
      out_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
  return true;
}

void BusWire::failAll(std::vector<Answer>& out) {
  for (const auto& [serial, deadline] : deadlines_) out.push_back(Answer{serial, nullptr, this});
  deadlines_.clear();
  close();
}

void BusWire::readAvailable(std::vector<Answer>& out) {
  for (;;) {
    char buf[65536];
    ssize_t n = recv(fd_, buf, sizeof(buf), 0);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof(buf)) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    failAll(out);  // closed or broken
    return;
  }
  parseBuffered(out);
}

void BusWire::parseBuffered(std::vector<Answer>& out) {
  if (okPending_) {
    // A server that refuses us says so instead (REJECTED), or closes the connection.
    const size_t end = in_.find("\r\n");
    if (end == std::string::npos && in_.size() < 4096) return;
    if (end == std::string::npos || in_.compare(0, 3, "OK ") != 0) {
      failAll(out);
      return;
    }
    in_.erase(0, end + 2);
    okPending_ = false;
  }
  size_t at = 0;
  while (in_.size() - at >= kHeaderBytes) {
    const guchar* data = reinterpret_cast<const guchar*>(in_.data() + at);
    gssize needed = g_dbus_message_bytes_needed(const_cast<guchar*>(data), kHeaderBytes, nullptr);
    if (needed <= 0) {
      failAll(out);
      return;
    }
    if (in_.size() - at < static_cast<size_t>(needed)) break;
    MessagePtr message(g_dbus_message_new_from_blob(const_cast<guchar*>(data),
                                                    static_cast<gsize>(needed),
                                                    G_DBUS_CAPABILITY_FLAGS_NONE, nullptr));
    at += static_cast<size_t>(needed);
    if (!message) {
      failAll(out);
      return;
    }
    GDBusMessageType type = g_dbus_message_get_message_type(message.get());
    if (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR) continue;
    auto found = deadlines_.find(g_dbus_message_get_reply_serial(message.get()));
    if (found == deadlines_.end()) continue;
    Answer answer{found->first, nullptr, this};
    deadlines_.erase(found);
    if (type == G_DBUS_MESSAGE_TYPE_METHOD_RETURN) {
      GVariant* body = g_dbus_message_get_body(message.get());
      answer.body.reset(body ? g_variant_ref(body) : g_variant_ref_sink(g_variant_new("()")));
    }
    out.push_back(std::move(answer));
  }
  in_.erase(0, at);
}

int64_t BusWire::firstDeadline() const {
  int64_t first = INT64_MAX;
  for (const auto& [serial, deadline] : deadlines_) first = std::min(first, deadline);
  return first;
}

void BusWire::expire(int64_t now, std::vector<Answer>& out) {
  for (auto it = deadlines_.begin(); it != deadlines_.end();) {
    if (it->second <= now) {
      out.push_back(Answer{it->first, nullptr, this});
      it = deadlines_.erase(it);
    } else {
      ++it;
    }
  }
}

std::vector<BusWire::Answer> BusWire::waitAny(const std::vector<BusWire*>& wires) {
  std::vector<Answer> out;
  std::vector<BusWire*> open;
  for (BusWire* w : wires) {
    if (!w || w->fd_ < 0) continue;
    if (!w->flush()) {
      w->failAll(out);
      continue;
    }
    w->parseBuffered(out);  // what an earlier read left over
    open.push_back(w);
  }
  while (out.empty()) {
    int64_t first = INT64_MAX;
    std::vector<pollfd> polled;
    std::vector<BusWire*> waiting;
    for (BusWire* w : open) {
      if (w->fd_ < 0 || w->deadlines_.empty()) continue;
      first = std::min(first, w->firstDeadline());
      polled.push_back(
          pollfd{w->fd_, static_cast<short>(POLLIN | (w->out_.empty() ? 0 : POLLOUT)), 0});
      waiting.push_back(w);
    }
    if (waiting.empty()) break;
    int64_t now = nowUs();
    if (first <= now) {
      for (BusWire* w : waiting) w->expire(now, out);
      break;
    }
    int n = poll(polled.data(), polled.size(),
                 static_cast<int>(std::min<int64_t>((first - now + 999) / 1000, 1 << 30)));
    if (n < 0 && errno != EINTR) {
      for (BusWire* w : waiting) w->failAll(out);
      break;
    }
    if (n <= 0) continue;
    for (size_t i = 0; i < waiting.size(); ++i) {
      BusWire* w = waiting[i];
      const short revents = polled[i].revents;
      if ((revents & POLLOUT) && !w->flush()) {
        w->failAll(out);
        continue;
      }
      if (revents & (POLLIN | POLLHUP | POLLERR)) w->readAvailable(out);
    }
  }
  return out;
}

VariantPtr BusWire::callSync(const char* destination, const char* path, const char* iface,
                             const char* method, GVariant* params, int timeoutMs, bool autoStart) {
  uint32_t serial = call(destination, path, iface, method, params, timeoutMs, autoStart);
  return serial == 0 ? nullptr : std::move(awaitAll({serial}).front());
}

std::vector<VariantPtr> BusWire::awaitAll(const std::vector<uint32_t>& serials) {
  std::vector<VariantPtr> results(serials.size());
  std::vector<bool> done(serials.size(), false);
  size_t left = 0;
  for (size_t i = 0; i < serials.size(); ++i) {
    done[i] = serials[i] == 0;  // a call that never went out
    if (!done[i]) ++left;
  }
  while (left > 0 && open()) {
    std::vector<Answer> answers = wait();
    if (answers.empty()) break;
    for (Answer& a : answers) {
      for (size_t i = 0; i < serials.size(); ++i) {
        if (done[i] || serials[i] != a.serial) continue;
        results[i] = std::move(a.body);
        done[i] = true;
        --left;
      }
    }
  }
  return results;
}

}  // namespace ax
