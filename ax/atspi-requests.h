// The AT-SPI backend's requests: one element's D-Bus address and what has been fetched for it,
// the queue that sends requests asynchronously and files their answers, and the readers that turn
// a filed answer into a number or a text.
//
// Every request to an application is an asynchronous D-Bus call with the messaging timeout; the
// calls one batched read needs are in flight together, and an element keeps what its reads
// already fetched, so a later read of the same element asks only for what is new.
#pragma once

#include <gio/gio.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ax/atspi-bus.h"
#include "ax/atspi-roles.h"
#include "ax/platform.h"

namespace ax {

// Timeouts, in milliseconds: of a request to an application until the core sets its own, and of
// connecting to a bus and asking the bus launcher (a launcher may have to start the bus first).
constexpr int kDefaultTimeoutMs = 600;
constexpr int kBusSetupTimeoutMs = 4 * kDefaultTimeoutMs;

// The D-Bus requests one element can need. Each is sent at most once per run; its answer (or
// its failure) is kept, so later reads of the same element cost nothing.
enum Call {
  kGetRole,
  kGetState,
  kGetExtents,
  kGetChildren,
  kChildCount,
  kChildAtIndex,  // asked of the parent: the address of the child at the node's index
  kName,
  kDescription,
  kAttributes,
  kCharacterCount,
  kGetText,
  kCurrentValue,
  kDocumentAttributes,
  kToolkitName,     // an application's ToolkitName and Version, one property each: Qt 6.4 quits
  kToolkitVersion,  // on a GetAll of that interface
  kProcessId,       // asked of the bus daemon about the element's connection
  kBusAddress,      // an application's own server, for a direct connection
  kCallCount,
};

struct Slot {
  enum class State { kEmpty, kPending, kDone, kFailed };
  State state = State::kEmpty;
  VariantPtr reply;  // the reply's body tuple, on kDone
};

struct Node {
  std::string bus;
  std::string path;
  int parentRole = -1;  // role of the object it was listed under, -1 when unknown
  int32_t pid = 0;      // the owning application's process id, when known
  bool application = false;
  // GTK 4 (4.8 at least) reports extents relative to its window and sets SHOWING only on the
  // window itself: its elements count as shown when VISIBLE, and their extents are moved by the
  // window's place on the screen.
  bool windowRelative = false;
  // The registry's root: its children are the applications, listed for their bus names only.
  bool registry = false;
  // Set when the walk is known to come here: its record's reads go out as soon as the answers
  // they depend on (role, states, text length) are in.
  bool prefetchDetails = false;
  std::weak_ptr<Node> parent;  // the element it was listed under
  // Children of a wide element are listed by index, not by address (see ReadAhead::childrenOf):
  // such a child's path stays empty until GetChildAtIndex answers.
  int32_t index = -1;
  double scale = 0;           // the factor its extents take to screen pixels, once known
  int depth = 0;              // levels below the window list, which bounds the read-ahead
  int32_t readAheadUpTo = 0;  // children of a wide element queued for the read-ahead so far
  bool queued = false;        // in the read-ahead queue already (or read)
  int lane = -1;              // the direct connection its requests take, once chosen
  std::array<Slot, kCallCount> slots;
  std::optional<std::vector<Element>> children;  // built once from the GetChildren answer

  bool done(Call c) const { return slots[c].state == Slot::State::kDone; }
  bool failed(Call c) const { return slots[c].state == Slot::State::kFailed; }
};

// A reference the core holds. `node` is shared with every copy of the reference, so what one
// read fetched serves the next. A reference without a node stands for "the focused element":
// AT-SPI has no cheap way to ask an application for it, while every candidate's own FOCUSED
// state comes with the read that makes it a candidate.
class AtspiElement : public ElementRef {
 public:
  explicit AtspiElement(std::shared_ptr<Node> n) : node(std::move(n)) {}
  const std::shared_ptr<Node> node;
};

inline const AtspiElement* asAtspi(const Element& e) {
  return dynamic_cast<const AtspiElement*>(e.get());
}

std::vector<std::shared_ptr<Node>> nodesOf(const std::vector<Element>& list);

// ---- Reading answers: none while the answer is not in (or failed) -------------------------------

GVariant* replyOf(const Node& n, Call c);
VariantPtr childOf(GVariant* container, gsize index);
// The value inside a property reply "(v)".
VariantPtr unboxed(GVariant* reply);
std::optional<uint32_t> roleOf(const Node& n);
std::optional<AtspiStates> statesOf(const Node& n);
// The text of a property reply "(v)" holding a string.
std::optional<std::string> stringProperty(const Node& n, Call c);
std::optional<std::string> dictionaryEntry(const Node& n, Call c, const char* key);
std::optional<int32_t> characterCount(const Node& n);
// The number in a property reply "(v)" holding an int32 (CharacterCount, ChildCount).
std::optional<int32_t> intProperty(const Node& n, Call c);
std::optional<double> currentValue(const Node& n);
// The AX role the core sees ("AXApplication" for an application), "" while the role is unknown.
std::string axRoleOf(const Node& n);
// Whether the object is known to be off screen (never an application).
bool hiddenNode(const Node& n);

// ---- The queue ---------------------------------------------------------------------------------

class RequestQueue {
 public:
  // `connect` gives the accessibility bus, connecting on first use; nullptr when unreachable.
  explicit RequestQueue(std::function<BusWire*()> connect) : connect_(std::move(connect)) {}

  // Called with every answer that comes in for a node marked prefetchDetails, and after each
  // batch of answers (when more requests may go out).
  void onAnswer(std::function<void(const std::shared_ptr<Node>&, Call)> hook) {
    answer_ = std::move(hook);
  }
  void afterAnswers(std::function<void()> hook) { afterAnswers_ = std::move(hook); }

  void setTimeoutMs(int ms) { timeoutMs_ = ms; }

  // From now on, requests to the bus name `name` go over `wires`, direct connections to that
  // application (the caller keeps them open), instead of through the bus daemon. Each element's
  // requests keep to one of them, so its answers come in the order they were asked for.
  void sendDirect(const std::string& name, std::vector<BusWire*> wires) {
    directName_ = name;
    direct_ = std::move(wires);
  }

  // Sends the request for `call` unless it was sent before. Returns whether it went out now.
  bool issue(const std::shared_ptr<Node>& node, Call call);
  // Waits until no request of these nodes is on its way.
  void await(const std::vector<std::shared_ptr<Node>>& nodes);
  // The same request for several elements, in flight together.
  void fetch(const std::vector<std::shared_ptr<Node>>& nodes, Call call);
  bool anyPending(const Node& n) const;
  size_t inFlight() const { return pending_.size(); }
  // Sends a failed request again for the given elements and waits for it. False when no retry
  // is left (kRetries in a run) or none of them had failed.
  bool again(const std::vector<std::shared_ptr<Node>>& nodes, Call call);
  // Drops what is still in flight (answers nobody waited for).
  void clear() { pending_.clear(); }

 private:
  // A request on its way: whose answer it is, and the reply type it must have (nullptr: any).
  struct Pending {
    std::shared_ptr<Node> node;
    Call call;
    const char* replyType;
  };

  void onReply(BusWire::Answer answer);
  std::vector<BusWire::Answer> waitAny();

  // Waits that ended in a timeout, and the run's limit on them: after it the run stops waiting
  // for the application, which with the walk's own last request keeps a run within its budget
  // plus three messaging timeouts.
  static constexpr int kMaxStalls = 2;
  static constexpr int kRetries = 2;

  // Where a pending answer is filed: the connection it comes on and the call's serial there.
  using Key = std::pair<const BusWire*, uint32_t>;
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.first) ^ std::hash<uint32_t>()(k.second);
    }
  };

  std::function<BusWire*()> connect_;
  BusWire* bus_ = nullptr;
  std::vector<BusWire*> direct_;
  std::string directName_;
  size_t nextLane_ = 0;
  std::function<void(const std::shared_ptr<Node>&, Call)> answer_;
  std::function<void()> afterAnswers_;
  size_t failures_ = 0;  // calls that failed (error replies, timeouts)
  int stalls_ = 0;
  int retries_ = 0;
  std::unordered_map<Key, Pending, KeyHash> pending_;
  int timeoutMs_ = kDefaultTimeoutMs;
};

}  // namespace ax
