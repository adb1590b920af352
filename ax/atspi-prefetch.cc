#include "ax/atspi-prefetch.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <string_view>

#include "ax/atspi-attributes.h"
#include "ax/walk.h"

namespace ax {
namespace {

constexpr int kMaxWalkDepth = 100;      // the walk's own depth limit; also ends a cycle
constexpr int32_t kMaxVisited = 20000;  // the walk's own limit on visited elements
// Above this many children an element's children are read by index (see childrenOf).
constexpr int32_t kListedChildren = 64;

}  // namespace

Prefetcher::Prefetcher(RequestQueue& queue, std::function<bool(Node&)> onScreen)
    : queue_(queue), onScreen_(std::move(onScreen)), recordRoles_(makeRoleNames()) {}

const std::vector<Element>* Prefetcher::childrenOf(const std::shared_ptr<Node>& node) {
  if (node->children) return &*node->children;
  std::optional<uint32_t> role = roleOf(*node);
  const int parentRole = node->application ? ATSPI_ROLE_APPLICATION : role ? int(*role) : -1;
  auto makeChild = [&](const char* bus, std::string path) {
    auto child = std::make_shared<Node>();
    child->bus = bus && *bus ? bus : node->bus;
    child->path = std::move(path);
    child->parentRole = parentRole;
    child->pid = node->pid;
    child->windowRelative = node->windowRelative;
    child->depth = node->depth + 1;
    child->parent = node;
    return child;
  };
  std::vector<Element> list;
  if (GVariant* r = replyOf(*node, kGetChildren)) {
    VariantPtr array(g_variant_get_child_value(r, 0));
    GVariantIter iter;
    g_variant_iter_init(&iter, array.get());
    const char* bus = nullptr;
    const char* path = nullptr;
    while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path)) {
      // Toolkits list the null object for a child that went away meanwhile.
      if (std::string_view(path) == "/org/a11y/atspi/null") continue;
      list.push_back(std::make_shared<AtspiElement>(makeChild(bus, path)));
    }
  } else if (std::optional<int32_t> count = intProperty(*node, kChildCount);
             count && *count > kListedChildren) {
    // A spreadsheet reports every cell of its sheet (LibreOffice Calc: 2^31 - 1). The walk visits
    // at most kMaxVisited elements in all, so a longer list cannot be told apart.
    const int32_t listed = std::min(*count, kMaxVisited + 1);
    list.reserve(static_cast<size_t>(listed));
    for (int32_t i = 0; i < listed; ++i) {
      auto child = makeChild(nullptr, "");
      child->index = i;
      list.push_back(std::make_shared<AtspiElement>(std::move(child)));
    }
  } else {
    return nullptr;
  }
  node->children = std::move(list);
  return &*node->children;
}

void Prefetcher::issueDetails(const std::shared_ptr<Node>& node) {
  if (node->application || !node->done(kGetRole) || !node->done(kGetState) || hiddenNode(*node) ||
      !onScreen_(*node)) {
    return;
  }
  if (!recordRoles_.contains(axRoleOf(*node))) return;
  for (const std::string& name : kDetailAttributes) {
    for (Call c : callsFor(*node, name)) queue_.issue(node, c);
  }
}

void Prefetcher::onAnswer(const std::shared_ptr<Node>& node, Call call) {
  switch (call) {
    case kChildAtIndex:
    case kGetState:
      readAhead(node);
      break;
    case kGetRole:
    case kGetExtents:
    case kCharacterCount:
      issueDetails(node);
      queueChildren(node);
      break;
    case kGetChildren:
    case kChildCount:
      queueChildren(node);
      break;
    default:
      break;
  }
}

void Prefetcher::readAhead(const std::shared_ptr<Node>& node) {
  if (node->path.empty()) {
    queue_.issue(node, kChildAtIndex);
    return;
  }
  // States first: a hidden element (closed menus hold hundreds, a spreadsheet's row thousands of
  // cells beyond the window's edge) needs nothing more, not even its role.
  queue_.issue(node, kGetState);
  if (!node->done(kGetState) || hiddenNode(*node)) return;
  queue_.issue(node, kGetRole);
  queue_.issue(node, kGetExtents);
  if (node->slots[kGetChildren].state == Slot::State::kEmpty) queue_.issue(node, kChildCount);
  issueDetails(node);
  queueChildren(node);
}

// Queues the children of an element whose list is known, unless nothing under it can give a
// record: hidden, or lying wholly off the first screen.
void Prefetcher::queueChildren(const std::shared_ptr<Node>& node) {
  Node& n = *node;
  if (!n.done(kGetState) || hiddenNode(n) || !onScreen_(n)) return;
  if (n.slots[kGetChildren].state == Slot::State::kEmpty && n.done(kChildCount) &&
      intProperty(n, kChildCount).value_or(0) <= kListedChildren) {
    queue_.issue(node, kGetChildren);
    return;
  }
  if (n.depth > kMaxWalkDepth || !childrenOf(node)) return;
  queueWindow(n, 0);
}

// Puts the children of `parent` from `from` on (a window of them for a wide element) at the
// front of the queue, in order: the walk goes depth first, so they come before anything queued
// earlier.
void Prefetcher::queueWindow(Node& parent, int32_t from) {
  if (!parent.children) return;
  const std::vector<Element>& children = *parent.children;
  const int32_t size = static_cast<int32_t>(children.size());
  int32_t to = size;
  if (size > kListedChildren) {
    to = std::min(size, from + kWideWindow);
    if (to <= parent.readAheadUpTo) return;
    from = std::max(from, parent.readAheadUpTo);
    parent.readAheadUpTo = to;
  }
  for (int32_t i = to - 1; i >= from; --i) {
    const auto& child = asAtspi(children[static_cast<size_t>(i)])->node;
    if (child->queued) continue;
    child->queued = true;
    queued_.push_front(child);
  }
  pump();
}

void Prefetcher::pump() {
  while (!stopped_ && !queued_.empty() && queue_.inFlight() < kReadAhead) {
    std::shared_ptr<Node> node = std::move(queued_.front());
    queued_.pop_front();
    node->prefetchDetails = true;
    readAhead(node);
  }
}

void Prefetcher::walkedTo(const std::shared_ptr<Node>& node) {
  node->queued = true;
  if (node->index < 0) return;
  if (std::shared_ptr<Node> parent = node->parent.lock()) queueWindow(*parent, node->index + 1);
}

}  // namespace ax
