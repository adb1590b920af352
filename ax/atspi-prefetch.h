// How the AT-SPI backend keeps an application busy answering instead of waiting for the walk's
// next question: one bulk read of the whole tree where the toolkit offers it, and the requests
// the walk will make next sent ahead of it. Children lists are built here, since building one is
// where the next requests become known.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ax/atspi-requests.h"

namespace ax {

class Prefetcher {
 public:
  explicit Prefetcher(RequestQueue& queue);

  // Tells the registry that we listen to a (rare) event: toolkit bridges keep the cache that
  // answers the bulk read only while some client listens. Sent once, not awaited.
  void listen();
  // Sends the bulk request to the application without waiting for it, so that it travels while
  // the run goes on.
  void startBulk(const Node& app);
  // Waits for the bulk answer (once per run) and files where each object sits in the tree.
  void loadBulk(const Node& app);
  // The element's children, made once, so that every copy of the list shares their nodes.
  // Making them files what the bulk answer knows of each child and sends the reads the walk
  // will make of them.
  const std::vector<Element>* childrenOf(const std::shared_ptr<Node>& node, int depth = 0);
  // Sends the reads a record needs for an element whose role makes it a likely record, once its
  // role and states are known.
  void issueDetails(const std::shared_ptr<Node>& node);

 private:
  // What one GetItems answer says about one object.
  struct BulkItem {
    VariantPtr item;  // its entry of the answer, "((so)(so)(so)iiassusau)"
    int32_t childCount = -1;
    std::vector<std::pair<int32_t, std::string>> children;  // index in parent, path
  };

  void seed(Node& node);
  void prefetch(const Node& node, int depth);

  RequestQueue& queue_;
  bool bulkTried_ = false;
  std::shared_ptr<Node> listener_;
  std::shared_ptr<Node> bulkRequest_;
  std::string bulkBus_;
  std::unordered_map<std::string, BulkItem> bulk_;
  // The AX roles the walk makes records of (the only elements whose details it reads).
  const std::map<std::string, std::string> recordRoles_;
};

}  // namespace ax
