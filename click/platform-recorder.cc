#include "click/platform-recorder.h"

#include <string_view>
#include <utility>

#include "common/numbers.h"

namespace click {
namespace {

struct RecordedEvent : Event {
  bool isMouse = false;
  Point at;
};

void appendLines(std::vector<std::string>& lines, std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    lines.push_back(std::string(prefix) + std::string(line));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

std::string formatPoint(Point p) {
  return mevrik::formatShortest(p.x) + "," + mevrik::formatShortest(p.y);
}

RecorderPlatform::RecorderPlatform(RecorderOptions options)
    : options_(options), cursor_(options.cursor) {}

void RecorderPlatform::recordResult(const RunResult& result) {
  appendLines(lines_, "out ", result.out);
  appendLines(lines_, "err ", result.err);
  lines_.push_back("exit " + std::to_string(result.status));
}

int32_t RecorderPlatform::frontmostPid() {
  lines_.push_back("frontmost -> " + std::to_string(options_.pid));
  return options_.pid;
}

std::optional<Point> RecorderPlatform::cursorPosition() {
  ++reads_;
  std::optional<Point> answer = cursor_;
  if (reads_ > 1 && options_.cursorAfterFails) answer.reset();
  lines_.push_back("cursor -> " + (answer ? formatPoint(*answer) : std::string("none")));
  return answer;
}

std::unique_ptr<Event> RecorderPlatform::createMouseEvent(EventType type, MouseButton button,
                                                          Point at) {
  std::string line = "mouse type=" + std::to_string(type) + " button=" + std::to_string(button) +
                     " at=" + formatPoint(at);
  if (options_.mouseEventsFail) {
    lines_.push_back(line + " -> none");
    return nullptr;
  }
  lines_.push_back(std::move(line));
  auto event = std::make_unique<RecordedEvent>();
  event->isMouse = true;
  event->at = at;
  return event;
}

void RecorderPlatform::setClickState(Event&, int64_t clicks) {
  lines_.push_back("clickstate " + std::to_string(clicks));
}

void RecorderPlatform::postSystemWide(Event& event) {
  lines_.push_back("post hid");
  auto& recorded = static_cast<RecordedEvent&>(event);
  if (recorded.isMouse) cursor_ = recorded.at;
}

void RecorderPlatform::postToPid(int32_t pid, Event&) {
  lines_.push_back("post pid=" + std::to_string(pid));
}

std::unique_ptr<Event> RecorderPlatform::createScrollEvent(int32_t wheel1, int32_t wheel2,
                                                           int32_t wheel3) {
  std::string line = "scroll units=line count=2 wheel1=" + std::to_string(wheel1) +
                     " wheel2=" + std::to_string(wheel2) + " wheel3=" + std::to_string(wheel3);
  if (options_.scrollEventsFail) {
    lines_.push_back(line + " -> none");
    return nullptr;
  }
  lines_.push_back(std::move(line));
  return std::make_unique<RecordedEvent>();
}

void RecorderPlatform::setLocation(Event& event, Point at) {
  lines_.push_back("locate " + formatPoint(at));
  static_cast<RecordedEvent&>(event).at = at;
}

void RecorderPlatform::release(std::unique_ptr<Event>) {
  lines_.push_back("release");
}

WindowLookup RecorderPlatform::windowAt(Point at) {
  std::string line = "window at " + formatPoint(at) + " -> ";
  WindowLookup lookup;
  if (options_.windowAtUnknown) {
    lookup.error = "the recorder cannot tell";
    line += "unknown";
  } else if (options_.windowAt) {
    lookup.window = options_.windowAt;
    const TargetWindow& w = *lookup.window;
    line += "id=" + std::to_string(w.id) + " pid=" + std::to_string(w.pid) + " app=" + w.app +
            " title=" + w.title;
  } else {
    line += "none";
  }
  lines_.push_back(std::move(line));
  return lookup;
}

void RecorderPlatform::warpCursor(Point to) {
  lines_.push_back("warp " + formatPoint(to));
  cursor_ = to;
}

void RecorderPlatform::sleepMicroseconds(uint32_t microseconds) {
  lines_.push_back("sleep " + std::to_string(microseconds));
}

}  // namespace click
