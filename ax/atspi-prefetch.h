// How the AT-SPI backend keeps an application busy answering instead of waiting for the walk's
// next question, at a cost that follows the walk and not the size of the application: the reads
// of the elements the walk is expected to meet next go out ahead of it, in its order (depth
// first), while no more than kReadAhead calls are on their way. The application never holds a
// long queue, so the walk's own calls (sent at once) wait behind at most that many. Children
// lists are built here, since building one is where the next requests become known.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ax/atspi-requests.h"

namespace ax {

class Prefetcher {
 public:
  // `onScreen` tells whether an element's extents are in and do not put it wholly off the first
  // screen: nothing under a pruned element is read ahead, nor are its details.
  Prefetcher(RequestQueue& queue, std::function<bool(Node&)> onScreen);

  // The element's children, made once, so that every copy of the list shares their nodes. Most
  // elements list them with one GetChildren; a wide one (a table of thousands of rows) would keep
  // the application busy building every child's reference (Chromium: about 0.1 ms each), so its
  // children are made from its ChildCount and each asks for its own address when first read.
  const std::vector<Element>* childrenOf(const std::shared_ptr<Node>& node);
  // Sends the reads a record needs for an element whose role makes it a likely record, once its
  // role, states and extents are known.
  void issueDetails(const std::shared_ptr<Node>& node);
  // The walk reached `node`: a wide parent's next children are read ahead as it moves along.
  void walkedTo(const std::shared_ptr<Node>& node);
  // The walk goes into the children of `parent` next: they are read ahead first.
  void queueChildrenOf(Node& parent) { queueWindow(parent, 0); }
  // An answer for a node marked prefetchDetails came in.
  void onAnswer(const std::shared_ptr<Node>& node, Call call);
  // Sends queued reads while fewer than kReadAhead calls are on their way.
  void pump();
  // From now on nothing is read ahead: a run that looks up one element would only wait behind
  // reads of elements it never visits.
  void stopReadingAhead() { stopped_ = true; }

 private:
  static constexpr size_t kReadAhead = 96;
  // Children of a wide element are read ahead this many at a time, as the walk moves along them.
  static constexpr int32_t kWideWindow = 48;

  void readAhead(const std::shared_ptr<Node>& node);
  void queueChildren(const std::shared_ptr<Node>& node);
  void queueWindow(Node& parent, int32_t from);

  RequestQueue& queue_;
  std::function<bool(Node&)> onScreen_;
  std::deque<std::shared_ptr<Node>> queued_;
  bool stopped_ = false;
  // The AX roles the walk makes records of (the only elements whose details it reads).
  const std::map<std::string, std::string> recordRoles_;
};

}  // namespace ax
