#include "ax/atspi-requests.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <chrono>
#include <string_view>

namespace ax {
namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
// Text is clipped to 120 characters in the snapshot; reading a few thousand keeps long documents
// cheap while leaving clipping (and its ellipsis) to the core.
constexpr int32_t kMaxTextCharacters = 4000;

// What one request is: where it goes, its arguments and the reply type it must have.
struct Request {
  const char* destination;
  const char* path;
  const char* iface = kAccessible;
  const char* method = nullptr;
  GVariant* params = nullptr;     // floating; consumed by the call
  const char* replyType = "(v)";  // nullptr: any (replies whose shape varies between versions)
};

Request requestFor(const Node& node, const Node* parent, Call call) {
  Request r{node.bus.c_str(), node.path.c_str()};
  auto property = [&r](const char* iface, const char* name) {
    r.iface = kProperties, r.method = "Get";
    r.params = g_variant_new("(ss)", iface, name);
  };
  switch (call) {
    case kGetRole:
      r.method = "GetRole", r.replyType = "(u)";
      break;
    case kGetState:
      r.method = "GetState", r.replyType = "(au)";
      break;
    case kGetExtents:
      r.iface = "org.a11y.atspi.Component", r.method = "GetExtents", r.replyType = "((iiii))";
      r.params = g_variant_new("(u)", static_cast<uint32_t>(ATSPI_COORD_TYPE_SCREEN));
      break;
    case kGetChildren:
      r.method = "GetChildren", r.replyType = "(a(so))";
      break;
    case kChildCount:
      property(kAccessible, "ChildCount");
      break;
    case kChildAtIndex:
      r.path = parent->path.c_str();
      r.method = "GetChildAtIndex", r.replyType = "((so))";
      r.params = g_variant_new("(i)", node.index);
      break;
    case kName:
      property(kAccessible, "Name");
      break;
    case kDescription:
      property(kAccessible, "Description");
      break;
    case kAttributes:
      r.method = "GetAttributes", r.replyType = "(a{ss})";
      break;
    case kCharacterCount:
      property("org.a11y.atspi.Text", "CharacterCount");
      break;
    case kGetText: {
      r.iface = "org.a11y.atspi.Text", r.method = "GetText", r.replyType = "(s)";
      int32_t count = std::min(characterCount(node).value_or(0), kMaxTextCharacters);
      r.params = g_variant_new("(ii)", 0, count);
      break;
    }
    case kCurrentValue:
      property("org.a11y.atspi.Value", "CurrentValue");
      break;
    case kDocumentAttributes:
      r.iface = "org.a11y.atspi.Document", r.method = "GetAttributes", r.replyType = "(a{ss})";
      break;
    case kProcessId:
      r.destination = "org.freedesktop.DBus", r.path = "/org/freedesktop/DBus";
      r.iface = "org.freedesktop.DBus", r.method = "GetConnectionUnixProcessID";
      r.replyType = "(u)";
      r.params = g_variant_new("(s)", node.bus.c_str());
      break;
    case kBusAddress:
      r.iface = "org.a11y.atspi.Application", r.method = "GetApplicationBusAddress";
      r.replyType = "(s)";
      break;
    case kToolkitName:
      property("org.a11y.atspi.Application", "ToolkitName");
      break;
    case kToolkitVersion:
      property("org.a11y.atspi.Application", "Version");
      break;
    case kCallCount:
      break;
  }
  return r;
}

}  // namespace

std::vector<std::shared_ptr<Node>> nodesOf(const std::vector<Element>& list) {
  std::vector<std::shared_ptr<Node>> nodes;
  for (const Element& e : list) nodes.push_back(asAtspi(e)->node);
  return nodes;
}

// ---- Reading answers ---------------------------------------------------------------------------

GVariant* replyOf(const Node& n, Call c) {
  const Slot& s = n.slots[c];
  return s.state == Slot::State::kDone ? s.reply.get() : nullptr;
}

VariantPtr childOf(GVariant* container, gsize index) {
  return VariantPtr(g_variant_get_child_value(container, index));
}

VariantPtr unboxed(GVariant* reply) {
  GVariant* inner = nullptr;
  g_variant_get(reply, "(v)", &inner);
  return VariantPtr(inner);
}

std::optional<uint32_t> roleOf(const Node& n) {
  GVariant* r = replyOf(n, kGetRole);
  if (!r) return std::nullopt;
  uint32_t role = 0;
  g_variant_get(r, "(u)", &role);
  return role;
}

std::optional<AtspiStates> statesOf(const Node& n) {
  GVariant* r = replyOf(n, kGetState);
  if (!r) return std::nullopt;
  VariantPtr words(g_variant_get_child_value(r, 0));
  gsize count = 0;
  const uint32_t* w = static_cast<const uint32_t*>(
      g_variant_get_fixed_array(words.get(), &count, sizeof(uint32_t)));
  AtspiStates states;
  if (count > 0) states.bits |= w[0];
  if (count > 1) states.bits |= static_cast<uint64_t>(w[1]) << 32;
  return states;
}

std::optional<std::string> stringProperty(const Node& n, Call c) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_STRING)) return std::nullopt;
  return std::string(g_variant_get_string(inner.get(), nullptr));
}

std::optional<std::string> dictionaryEntry(const Node& n, Call c, const char* key) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr dict(g_variant_get_child_value(r, 0));
  const char* value = nullptr;
  if (!g_variant_lookup(dict.get(), key, "&s", &value)) return std::nullopt;
  return std::string(value);
}

std::optional<int32_t> characterCount(const Node& n) {
  return intProperty(n, kCharacterCount);
}

std::optional<int32_t> intProperty(const Node& n, Call c) {
  GVariant* r = replyOf(n, c);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
  return g_variant_get_int32(inner.get());
}

std::optional<double> currentValue(const Node& n) {
  GVariant* r = replyOf(n, kCurrentValue);
  if (!r) return std::nullopt;
  VariantPtr inner = unboxed(r);
  if (!inner || !g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_DOUBLE)) return std::nullopt;
  return g_variant_get_double(inner.get());
}

std::string axRoleOf(const Node& n) {
  if (n.application) return "AXApplication";
  std::optional<uint32_t> role = roleOf(n);
  if (!role) return "";
  return axRoleFor(static_cast<int>(*role), n.parentRole, statesOf(n).value_or(AtspiStates{}));
}

bool hiddenNode(const Node& n) {
  if (n.application) return false;
  std::optional<AtspiStates> states = statesOf(n);
  if (states && n.windowRelative && states->has(ATSPI_STATE_VISIBLE)) return false;
  return states && isHidden(*states);
}

// ---- The queue ---------------------------------------------------------------------------------

void RequestQueue::onReply(BusWire::Answer answer) {
  VariantPtr reply = std::move(answer.body);
  auto found = pending_.find(Key{answer.wire, answer.serial});
  if (found == pending_.end()) return;
  Pending p = std::move(found->second);
  pending_.erase(found);
  if (reply && p.replyType && !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(p.replyType))) {
    reply.reset();
  }
  if (!reply) ++failures_;
  Slot& slot = p.node->slots[p.call];
  slot.state = reply ? Slot::State::kDone : Slot::State::kFailed;
  slot.reply = std::move(reply);
  if (slot.state != Slot::State::kDone) return;
  if (p.call == kChildAtIndex) {
    // The child's address; a child that went away meanwhile (the null object) leaves an element
    // whose every read fails.
    const char* bus = nullptr;
    const char* path = nullptr;
    g_variant_get(slot.reply.get(), "((&s&o))", &bus, &path);
    if (std::string_view(path) == "/org/a11y/atspi/null" || !*path) {
      p.node->bus.clear();
      return;
    }
    if (*bus) p.node->bus = bus;
    p.node->path = path;
  }
  if (p.node->prefetchDetails && answer_) answer_(p.node, p.call);
}

bool RequestQueue::issue(const std::shared_ptr<Node>& node, Call call) {
  Slot& slot = node->slots[call];
  if (slot.state != Slot::State::kEmpty || call == kCallCount) return false;
  if (node->bus.empty() || stalls_ >= kMaxStalls) {
    slot.state = Slot::State::kFailed;
    return false;
  }
  std::shared_ptr<Node> parent = node->parent.lock();
  if (node->path.empty()) {
    // A child listed by index: its address comes first, the call goes out once it is known.
    if (call != kChildAtIndex) {
      issue(node, kChildAtIndex);
      if (node->failed(kChildAtIndex)) slot.state = Slot::State::kFailed;
      return false;
    }
    if (!parent || parent->path.empty()) {
      slot.state = Slot::State::kFailed;
      return false;
    }
  }
  Request r = requestFor(*node, parent.get(), call);
  BusWire* wire = nullptr;
  if (!direct_.empty() && directName_ == r.destination) {
    if (node->lane < 0) node->lane = static_cast<int>(nextLane_++ % direct_.size());
    wire = direct_[static_cast<size_t>(node->lane)];
  } else {
    // The bus is connected on first use: a run that reaches its application directly may never
    // need it.
    wire = bus_ = connect_();
  }
  if (!wire) {
    if (r.params) g_variant_unref(g_variant_ref_sink(r.params));
    slot.state = Slot::State::kFailed;
    return false;
  }
  uint32_t serial = wire->call(r.destination, r.path, r.iface, r.method, r.params, timeoutMs_);
  if (serial == 0) {
    slot.state = Slot::State::kFailed;
    return false;
  }
  slot.state = Slot::State::kPending;
  pending_[Key{wire, serial}] = Pending{node, call, r.replyType};
  return true;
}

std::vector<BusWire::Answer> RequestQueue::waitAny() {
  std::vector<BusWire*> wires = direct_;
  wires.push_back(bus_);
  return BusWire::waitAny(wires);
}

bool RequestQueue::anyPending(const Node& n) const {
  return std::any_of(n.slots.begin(), n.slots.end(),
                     [](const Slot& s) { return s.state == Slot::State::kPending; });
}

void RequestQueue::await(const std::vector<std::shared_ptr<Node>>& nodes) {
  for (const auto& n : nodes) {
    while (anyPending(*n)) {
      const auto start = std::chrono::steady_clock::now();
      std::vector<BusWire::Answer> answers =
          stalls_ < kMaxStalls ? waitAny() : std::vector<BusWire::Answer>{};
      if (answers.empty()) {
        // Nothing more can come (the connection is gone, or the application stopped answering):
        // what is outstanding has failed.
        for (auto& [serial, p] : pending_) p.node->slots[p.call].state = Slot::State::kFailed;
        pending_.clear();
        break;
      }
      const size_t failuresBefore = failures_;
      for (BusWire::Answer& a : answers) onReply(std::move(a));
      // A wait that ended in a timeout counts towards the run's limit.
      if (failures_ > failuresBefore && std::chrono::steady_clock::now() - start >=
                                            std::chrono::milliseconds(timeoutMs_ * 9 / 10)) {
        ++stalls_;
      }
      if (afterAnswers_) afterAnswers_();
    }
  }
}

bool RequestQueue::again(const std::vector<std::shared_ptr<Node>>& nodes, Call call) {
  if (retries_ >= kRetries || stalls_ >= kMaxStalls) return false;
  bool any = false;
  for (const auto& n : nodes) {
    Slot& slot = n->slots[call];
    if (slot.state != Slot::State::kFailed) continue;
    slot.state = Slot::State::kEmpty;
    any = issue(n, call) || any;
  }
  if (!any) return false;
  ++retries_;
  await(nodes);
  return true;
}

void RequestQueue::fetch(const std::vector<std::shared_ptr<Node>>& nodes, Call call) {
  for (const auto& n : nodes) issue(n, call);
  await(nodes);
}

}  // namespace ax
