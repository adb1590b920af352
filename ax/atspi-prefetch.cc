#include "ax/atspi-prefetch.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <string_view>

#include "ax/atspi-attributes.h"
#include "ax/walk.h"

namespace ax {
namespace {

constexpr const char* kItemsType = "(a((so)(so)(so)iiassusau))";
// The walk's own depth limit; also ends a cycle.
constexpr int kMaxPrefetchDepth = 100;

}  // namespace

Prefetcher::Prefetcher(RequestQueue& queue) : queue_(queue), recordRoles_(makeRoleNames()) {}

void Prefetcher::listen() {
  if (listener_) return;
  listener_ = std::make_shared<Node>();
  listener_->bus = "org.a11y.atspi.Registry";
  listener_->path = "/org/a11y/atspi/registry";
  queue_.issue(listener_, kRegisterEvent);
}

// The registry must have told the application about our listener first (the bridge builds its
// cache on hearing of one), hence the wait for that answer.
void Prefetcher::startBulk(const Node& app) {
  if (bulkRequest_ || app.bus.empty()) return;
  listen();
  queue_.await({listener_});
  bulkRequest_ = std::make_shared<Node>();
  bulkRequest_->bus = app.bus;
  bulkRequest_->path = "/org/a11y/atspi/cache";
  queue_.issue(bulkRequest_, kGetItems);
}

// One request for the role, states, name, description and place in the tree of every object the
// application's bridge knows (GTK and Chromium; Qt answers an empty list), instead of four
// requests per element. The walk then asks each element only for what the bulk answer lacks (its
// extents, and the value of candidates). Any failure leaves the element-by-element reads.
void Prefetcher::loadBulk(const Node& app) {
  if (bulkTried_ || app.bus.empty()) return;
  bulkTried_ = true;
  startBulk(app);
  queue_.await({bulkRequest_});
  GVariant* reply = replyOf(*bulkRequest_, kGetItems);
  if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE(kItemsType))) return;
  bulkBus_ = app.bus;
  // Only the place in the tree is read here; the rest of an item stays in the answer until the
  // walk reaches the object (see seed), as most objects are never visited.
  VariantPtr items(g_variant_get_child_value(reply, 0));
  const gsize count = g_variant_n_children(items.get());
  for (gsize i = 0; i < count; ++i) {
    VariantPtr item(g_variant_get_child_value(items.get(), i));
    VariantPtr self = childOf(item.get(), 0);
    VariantPtr selfPath = childOf(self.get(), 1);
    BulkItem& entry = bulk_[g_variant_get_string(selfPath.get(), nullptr)];
    entry.childCount = g_variant_get_int32(childOf(item.get(), 4).get());
    const int32_t index = g_variant_get_int32(childOf(item.get(), 3).get());
    if (index >= 0) {
      VariantPtr parent = childOf(item.get(), 2);
      VariantPtr parentPath = childOf(parent.get(), 1);
      bulk_[g_variant_get_string(parentPath.get(), nullptr)].children.emplace_back(
          index, g_variant_get_string(selfPath.get(), nullptr));
    }
    entry.item = std::move(item);
  }
}

// Fills what the bulk answer knows about the node, as if its own requests had come back.
void Prefetcher::seed(Node& node) {
  if (bulk_.empty() || node.bus != bulkBus_) return;
  auto found = bulk_.find(node.path);
  if (found == bulk_.end() || !found->second.item) return;
  BulkItem& item = found->second;
  // Each field as the reply of its own request would carry it.
  auto done = [&node](Call c, GVariant* reply) {
    node.slots[c].state = Slot::State::kDone;
    node.slots[c].reply.reset(g_variant_ref_sink(reply));
  };
  GVariant* fields = item.item.get();
  done(kGetRole, g_variant_new("(u)", g_variant_get_uint32(childOf(fields, 7).get())));
  done(kGetState, g_variant_new("(@au)", childOf(fields, 9).get()));
  done(kName, g_variant_new("(v)", childOf(fields, 6).get()));
  done(kDescription, g_variant_new("(v)", childOf(fields, 8).get()));
  // The children only when the bridge listed them all; otherwise they are asked for.
  if (item.childCount >= 0 && item.children.size() == static_cast<size_t>(item.childCount)) {
    std::sort(item.children.begin(), item.children.end());
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(so)"));
    for (const auto& [index, path] : item.children) {
      g_variant_builder_add(&builder, "(so)", node.bus.c_str(), path.c_str());
    }
    done(kGetChildren, g_variant_new("(a(so))", &builder));
  }
}

const std::vector<Element>* Prefetcher::childrenOf(const std::shared_ptr<Node>& node, int depth) {
  if (node->children) return &*node->children;
  GVariant* r = replyOf(*node, kGetChildren);
  if (!r) return nullptr;
  std::vector<Element> list;
  VariantPtr array(g_variant_get_child_value(r, 0));
  GVariantIter iter;
  g_variant_iter_init(&iter, array.get());
  const char* bus = nullptr;
  const char* path = nullptr;
  std::optional<uint32_t> role = roleOf(*node);
  int parentRole = node->application ? ATSPI_ROLE_APPLICATION : role ? int(*role) : -1;
  while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path)) {
    // Toolkits list the null object for a child that went away meanwhile.
    if (std::string_view(path) == "/org/a11y/atspi/null") continue;
    auto child = std::make_shared<Node>();
    child->bus = *bus ? bus : node->bus;
    child->path = path;
    child->parentRole = parentRole;
    child->pid = node->pid;
    seed(*child);
    list.push_back(std::make_shared<AtspiElement>(child));
  }
  node->children = std::move(list);
  if (!node->application && !node->registry) prefetch(*node, depth);
  return &*node->children;
}

// The reads a record needs (the walk's detail attributes), sent ahead of the walk for an element
// whose role makes it a likely record: otherwise each would be a round trip of its own while the
// application sits idle. Nothing goes out before the role and states are known (a hidden object
// is never asked), and the text goes out once its length is known.
void Prefetcher::issueDetails(const std::shared_ptr<Node>& node) {
  if (node->application || !node->done(kGetRole) || !node->done(kGetState) || hiddenNode(*node)) {
    return;
  }
  if (!recordRoles_.contains(axRoleOf(*node))) return;
  for (const std::string& name : kDetailAttributes) {
    for (Call c : callsFor(*node, name)) queue_.issue(node, c);
  }
}

// The walk reads every listed child's base attributes next, in order: asking for them all now
// keeps the application busy answering instead of waiting for our next question. Where the bulk
// answer already lists a child's own children, their requests go out too, down the subtree in
// the walk's order, so most of a window is in flight before the walk gets there.
void Prefetcher::prefetch(const Node& node, int depth) {
  for (const Element& c : *node.children) {
    const auto& child = asAtspi(c)->node;
    if (child->done(kGetState) && hiddenNode(*child)) continue;
    for (Call call : {kGetRole, kGetState, kGetExtents, kGetChildren}) queue_.issue(child, call);
    child->prefetchDetails = true;
    issueDetails(child);
    if (depth < kMaxPrefetchDepth && !child->children && child->done(kGetChildren)) {
      childrenOf(child, depth + 1);
    }
  }
}

}  // namespace ax
