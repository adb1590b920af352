#include "ax/atspi-bus.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace ax {
namespace {

// A one-client bus on a socket in a temporary folder: answers the EXTERNAL handshake and Hello,
// then hands every method call to `answer`, which may reply, reply with an error or stay silent.
class FakeBus {
 public:
  using Answer = std::function<GDBusMessage*(GDBusMessage* call)>;  // nullptr: no reply

  explicit FakeBus(Answer answer) : answer_(std::move(answer)) {
    char pattern[] = "/tmp/ax-bus-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    path_ = dir_ + "/bus";
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof(addr.sun_path) - 1);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    EXPECT_EQ(listen(listener_, 1), 0);
    thread_ = std::thread([this] { serve(); });
  }

  ~FakeBus() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }

  std::string address() const { return "unix:path=" + path_ + ",guid=0123"; }

  // Ends the connection from the bus's side once this many calls (after Hello) have come in.
  int closeAfter = -1;

 private:
  void serve() {
    int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::string in;
    char buf[4096];
    // The handshake: a NUL, AUTH EXTERNAL <hex uid>, then BEGIN.
    while (in.find("\r\n") == std::string::npos) {
      ssize_t n = read(fd, buf, sizeof(buf));
      if (n <= 0) return (void)close(fd);
      in.append(buf, n);
    }
    EXPECT_EQ(in.substr(0, 15), std::string("\0AUTH EXTERNAL ", 15));
    in.erase(0, in.find("\r\n") + 2);
    const char ok[] = "OK 0123456789abcdef0123456789abcdef\r\n";
    EXPECT_EQ(write(fd, ok, sizeof(ok) - 1), static_cast<ssize_t>(sizeof(ok) - 1));
    int calls = 0;
    for (;;) {
      if (in.compare(0, 7, "BEGIN\r\n") == 0) in.erase(0, 7);
      while (in.size() >= 16) {
        gssize needed =
            g_dbus_message_bytes_needed(reinterpret_cast<guchar*>(in.data()), 16, nullptr);
        ASSERT_GT(needed, 0);
        if (in.size() < static_cast<size_t>(needed)) break;
        GDBusMessage* call = g_dbus_message_new_from_blob(
            reinterpret_cast<guchar*>(in.data()), needed, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
        in.erase(0, needed);
        GDBusMessage* reply = nullptr;
        if (std::string(g_dbus_message_get_member(call)) == "Hello") {
          reply = g_dbus_message_new_method_reply(call);
          g_dbus_message_set_body(reply, g_variant_new("(s)", ":1.1"));
        } else {
          if (++calls == closeAfter) {
            g_object_unref(call);
            close(fd);
            return;
          }
          reply = answer_(call);
        }
        if (reply) {
          g_dbus_message_set_serial(reply, ++serial_);
          gsize size = 0;
          guchar* blob =
              g_dbus_message_to_blob(reply, &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
          EXPECT_EQ(write(fd, blob, size), static_cast<ssize_t>(size));
          g_free(blob);
          g_object_unref(reply);
        }
        g_object_unref(call);
      }
      ssize_t n = read(fd, buf, sizeof(buf));
      if (n <= 0) break;
      in.append(buf, n);
    }
    close(fd);
  }

  Answer answer_;
  std::string dir_;
  std::string path_;
  int listener_ = -1;
  uint32_t serial_ = 0;
  std::thread thread_;
};

// Echoes the first argument of "Echo", fails "Fail", says nothing to "Ignore", and answers
// "Empty" without arguments.
GDBusMessage* answerByName(GDBusMessage* call) {
  std::string member = g_dbus_message_get_member(call);
  if (member == "Echo") {
    GDBusMessage* reply = g_dbus_message_new_method_reply(call);
    g_dbus_message_set_body(reply, g_dbus_message_get_body(call));
    return reply;
  }
  if (member == "Fail") {
    return g_dbus_message_new_method_error(call, "org.example.Error", "no");
  }
  if (member == "Empty") return g_dbus_message_new_method_reply(call);
  return nullptr;
}

TEST(BusWire, PipelinedCallsGetTheirOwnAnswers) {
  FakeBus bus(answerByName);
  std::unique_ptr<BusWire> wire =
      BusWire::connect("unix:path=/nonexistent/x;" + bus.address(), 2000);
  ASSERT_TRUE(wire);

  std::vector<uint32_t> serials;
  for (int i = 0; i < 200; ++i) {
    serials.push_back(
        wire->call("org.example", "/o", "org.example.I", "Echo", g_variant_new("(i)", i), 2000));
  }
  uint32_t failing = wire->call("org.example", "/o", "org.example.I", "Fail", nullptr, 2000);
  uint32_t empty = wire->call("org.example", "/o", "org.example.I", "Empty", nullptr, 2000);
  uint32_t silent = wire->call("org.example", "/o", "org.example.I", "Ignore", nullptr, 300);
  std::map<uint32_t, VariantPtr> answers;
  while (answers.size() < serials.size() + 3) {
    std::vector<BusWire::Answer> got = wire->wait();
    ASSERT_FALSE(got.empty());
    for (BusWire::Answer& a : got) answers[a.serial] = std::move(a.body);
  }
  for (int i = 0; i < 200; ++i) {
    GVariant* body = answers[serials[i]].get();
    ASSERT_TRUE(body);
    int32_t value = -1;
    g_variant_get(body, "(i)", &value);
    EXPECT_EQ(value, i);
  }
  EXPECT_EQ(answers[failing], nullptr);
  ASSERT_TRUE(answers[empty]);
  EXPECT_TRUE(g_variant_is_of_type(answers[empty].get(), G_VARIANT_TYPE("()")));
  EXPECT_EQ(answers[silent], nullptr);  // timed out

  VariantPtr sync = wire->callSync("org.example", "/o", "org.example.I", "Echo",
                                   g_variant_new("(s)", "x"), 2000, false);
  ASSERT_TRUE(sync);
  const char* text = nullptr;
  g_variant_get(sync.get(), "(&s)", &text);
  EXPECT_STREQ(text, "x");
}

TEST(BusWire, AClosedConnectionFailsWhatIsOutstanding) {
  FakeBus bus(answerByName);
  bus.closeAfter = 3;
  std::unique_ptr<BusWire> wire = BusWire::connect(bus.address(), 2000);
  ASSERT_TRUE(wire);
  uint32_t first =
      wire->call("org.example", "/o", "org.example.I", "Echo", g_variant_new("(i)", 1), 2000);
  wire->call("org.example", "/o", "org.example.I", "Ignore", nullptr, 2000);
  wire->call("org.example", "/o", "org.example.I", "Echo", g_variant_new("(i)", 3), 2000);
  size_t answered = 0, failed = 0;
  while (answered + failed < 3) {
    std::vector<BusWire::Answer> got = wire->wait();
    ASSERT_FALSE(got.empty());
    for (const BusWire::Answer& a : got) {
      if (a.body) {
        EXPECT_EQ(a.serial, first);
        ++answered;
      } else {
        ++failed;
      }
    }
  }
  EXPECT_EQ(answered, 1u);
  EXPECT_FALSE(wire->open());
  EXPECT_EQ(wire->call("org.example", "/o", "org.example.I", "Echo", nullptr, 2000), 0u);
  EXPECT_TRUE(wire->wait().empty());
}

// A bus and an application's own server at once: the same serials on both connections, each
// answer told apart by its connection; the peer gets no Hello and no destination.
TEST(BusWire, WaitsOnABusAndAPeerTogether) {
  FakeBus bus(answerByName);
  FakeBus peer([](GDBusMessage* call) {
    EXPECT_EQ(g_dbus_message_get_destination(call), nullptr);
    return answerByName(call);
  });
  std::unique_ptr<BusWire> a = BusWire::connect(bus.address(), 2000);
  std::unique_ptr<BusWire> b = BusWire::connect(peer.address(), 2000, true);
  ASSERT_TRUE(a && b);
  std::map<std::pair<const BusWire*, uint32_t>, int32_t> sent, got;
  for (int i = 0; i < 20; ++i) {
    BusWire* w = i % 2 ? b.get() : a.get();
    sent[{w, w->call("org.example", "/o", "org.example.I", "Echo", g_variant_new("(i)", i),
                     2000)}] = i;
  }
  while (got.size() < sent.size()) {
    std::vector<BusWire::Answer> answers = BusWire::waitAny({a.get(), nullptr, b.get()});
    ASSERT_FALSE(answers.empty());
    for (const BusWire::Answer& answer : answers) {
      ASSERT_TRUE(answer.body);
      g_variant_get(answer.body.get(), "(i)", &got[{answer.wire, answer.serial}]);
    }
  }
  EXPECT_EQ(got, sent);
}

TEST(BusWire, UnreachableAddressesGiveNoConnection) {
  EXPECT_FALSE(BusWire::connect("", 500));
  EXPECT_FALSE(BusWire::connect("tcp:host=localhost,port=1", 500));
  EXPECT_FALSE(BusWire::connect("unix:path=/nonexistent/bus", 500));
  EXPECT_FALSE(BusWire::connect("unix:abstract=/ax-bus-test-nobody-listens", 500));
}

}  // namespace
}  // namespace ax
