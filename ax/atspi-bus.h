// One connection to a D-Bus message bus, spoken directly on its socket from the calling thread.
//
// The snapshot sends a few hundred small method calls and wants them in flight together. GDBus
// routes every message through a worker thread, with several system calls and two thread
// wake-ups per message, which cost more CPU than the application needed to answer. Here calls
// are queued, written together in one system call, and the replies are read in large chunks on
// the same thread. Messages are built and parsed by GDBusMessage, so the wire format is GIO's.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ax {

// Owns one reference to a GVariant.
struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

class BusWire {
 public:
  // Connects to the first address of a D-Bus address list that works (unix:path= and
  // unix:abstract= transports), authenticates as this user and says Hello. nullptr when the bus
  // cannot be reached within timeoutMs. With `peer` the other end is one application's own
  // server, not a bus: there is no Hello, calls carry no destination, and the server's answer to
  // the handshake is not waited for (a refusal fails the calls sent meanwhile).
  static std::unique_ptr<BusWire> connect(const std::string& address, int timeoutMs,
                                          bool peer = false);

  ~BusWire();
  BusWire(const BusWire&) = delete;
  BusWire& operator=(const BusWire&) = delete;

  // Queues a method call (it is written at the next wait) and returns its serial, 0 when the
  // connection is gone. `params` may be floating; it is consumed. Without autoStart the bus does
  // not launch the destination.
  uint32_t call(const char* destination, const char* path, const char* iface, const char* method,
                GVariant* params, int timeoutMs, bool autoStart = false);

  // What became of a call: its reply body (an empty tuple for a reply without arguments), or
  // nullptr when it failed (an error reply, its timeout, or the connection closing).
  struct Answer {
    uint32_t serial = 0;
    VariantPtr body;
    const BusWire* wire = nullptr;  // the connection the call went out on
  };

  // Writes what is queued, then waits until at least one call has an answer (or none is
  // outstanding) and returns every answer that is in.
  std::vector<Answer> wait() { return waitAny({this}); }
  // The same for several connections at once (null entries are skipped).
  static std::vector<Answer> waitAny(const std::vector<BusWire*>& wires);

  // wait() until every one of these calls has its answer (or failed), in the order given; other
  // answers are dropped. Lets a caller send several calls at once and pay one round trip.
  std::vector<VariantPtr> awaitAll(const std::vector<uint32_t>& serials);

  // call() and wait() until that call's answer is in; other answers are dropped.
  VariantPtr callSync(const char* destination, const char* path, const char* iface,
                      const char* method, GVariant* params, int timeoutMs, bool autoStart);

  bool open() const { return fd_ >= 0; }
  // The process that made the socket's other end (for a server's socket, the one that listens
  // on it), 0 when unknown.
  int32_t peerPid() const;

 private:
  BusWire(int fd, bool peer) : fd_(fd), peer_(peer) {}
  bool authenticate(int timeoutMs);
  // The first deadline of an outstanding call; INT64_MAX when none is.
  int64_t firstDeadline() const;
  void expire(int64_t now, std::vector<Answer>& out);
  bool flush();
  void readAvailable(std::vector<Answer>& out);
  void parseBuffered(std::vector<Answer>& out);
  void failAll(std::vector<Answer>& out);
  void close();

  int fd_;
  bool peer_;
  bool okPending_ = false;  // a peer's answer to the handshake has not been read yet
  uint32_t nextSerial_ = 1;
  std::string out_;                        // bytes queued for the socket
  std::string in_;                         // bytes read and not yet parsed
  std::map<uint32_t, int64_t> deadlines_;  // outstanding calls: serial -> deadline (µs, monotonic)
};

}  // namespace ax
