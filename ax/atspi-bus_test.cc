#include "ax/atspi-bus.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace ax {
namespace {

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

// Runs on GDBus's worker thread for every message a serving connection sees. With a non-null
// `peer`, the connection is an application's own server, where calls carry no destination.
GDBusMessage* answerCalls(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                          gpointer peer) {
  if (!incoming || g_strcmp0(g_dbus_message_get_interface(message), "org.example.I") != 0)
    return message;
  if (peer) {
    EXPECT_EQ(g_dbus_message_get_destination(message), nullptr);
  }
  if (GDBusMessage* reply = answerByName(message)) {
    g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                   nullptr);
    g_object_unref(reply);
  }
  g_object_unref(message);
  return nullptr;
}

// A private dbus-daemon, with a second connection that owns "org.example" and answers the calls
// to its interface "org.example.I" through answerByName.
class Bus {
 public:
  Bus() {
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
    int out = -1;
    GError* error = nullptr;
    const bool started =
        g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH,
                                 nullptr, nullptr, &pid_, nullptr, &out, nullptr, &error);
    EXPECT_TRUE(started) << (error ? error->message : "");
    for (char c; started && read(out, &c, 1) == 1 && c != '\n';) address_ += c;
    if (started) close(out);
    service_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    EXPECT_TRUE(service_) << (error ? error->message : "");
    if (!service_) return;
    g_dbus_connection_add_filter(service_, answerCalls, nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        service_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.example", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE,
        5000, nullptr, nullptr);
    EXPECT_TRUE(owned);
    if (owned) g_variant_unref(owned);
  }
  ~Bus() {
    stop();
    if (service_) g_object_unref(service_);
  }

  const std::string& address() const { return address_; }
  // Ends the daemon, and with it every connection to it.
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  GPid pid_ = 0;
  std::string address_;
  GDBusConnection* service_ = nullptr;
};

// An application's own D-Bus server: peer connections without a daemon, answered like the bus.
class Peer {
 public:
  Peer() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    g_main_context_push_thread_default(context_);
    gchar* guid = g_dbus_generate_guid();
    GError* error = nullptr;
    server_ = g_dbus_server_new_sync("unix:tmpdir=/tmp", G_DBUS_SERVER_FLAGS_NONE, guid, nullptr,
                                     nullptr, &error);
    g_free(guid);
    EXPECT_TRUE(server_) << (error ? error->message : "");
    if (server_) {
      g_signal_connect(server_, "new-connection", G_CALLBACK(accept), this);
      g_dbus_server_start(server_);
    }
    g_main_context_pop_thread_default(context_);
    thread_ = std::thread([this] { g_main_loop_run(loop_); });
  }
  ~Peer() {
    g_main_loop_quit(loop_);
    thread_.join();
    for (GDBusConnection* c : connections_) g_object_unref(c);
    if (server_) g_object_unref(server_);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  std::string address() const { return server_ ? g_dbus_server_get_client_address(server_) : ""; }

 private:
  static gboolean accept(GDBusServer*, GDBusConnection* connection, gpointer self) {
    static_cast<Peer*>(self)->connections_.push_back(G_DBUS_CONNECTION(g_object_ref(connection)));
    g_dbus_connection_add_filter(connection, answerCalls, self, nullptr);
    return TRUE;
  }

  GMainContext* context_;
  GMainLoop* loop_;
  GDBusServer* server_ = nullptr;
  std::vector<GDBusConnection*> connections_;
  std::thread thread_;
};

TEST(BusWire, PipelinedCallsGetTheirOwnAnswers) {
  Bus bus;
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
  Bus bus;
  std::unique_ptr<BusWire> wire = BusWire::connect(bus.address(), 2000);
  ASSERT_TRUE(wire);
  const uint32_t first =
      wire->call("org.example", "/o", "org.example.I", "Echo", g_variant_new("(i)", 1), 60000);
  wire->call("org.example", "/o", "org.example.I", "Ignore", nullptr, 60000);
  wire->call("org.example", "/o", "org.example.I", "Ignore", nullptr, 60000);
  std::vector<BusWire::Answer> got = wire->wait();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].serial, first);
  EXPECT_TRUE(got[0].body);
  // The bus goes away: the two calls still out fail at once, long before their timeouts.
  const auto start = std::chrono::steady_clock::now();
  bus.stop();
  for (size_t failed = 0; failed < 2;) {
    got = wire->wait();
    ASSERT_FALSE(got.empty());
    for (const BusWire::Answer& a : got) {
      EXPECT_FALSE(a.body);
      ++failed;
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_FALSE(wire->open());
  EXPECT_EQ(wire->call("org.example", "/o", "org.example.I", "Echo", nullptr, 2000), 0u);
  EXPECT_TRUE(wire->wait().empty());
}

// A bus and an application's own server at once: the same serials on both connections, each
// answer told apart by its connection; the peer gets no Hello and no destination.
TEST(BusWire, WaitsOnABusAndAPeerTogether) {
  Bus bus;
  Peer peer;
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
