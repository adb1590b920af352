// The one interface through which the snapshot core reaches the platform.
//
// It exists so that the core (options, run flow, walk, JSON) is one piece of code for every
// system and can be driven by a scripted fake in tests. Backends: the scene fake
// (platform-scene.cc), AT-SPI2 on Linux (platform-atspi.cc) and the Accessibility API on macOS
// (platform-mac.cc). Attribute names are the macOS
// accessibility ones ("AXRole", "AXChildren", ...); a backend for another system translates them.
//
// Nothing here throws: a platform read that fails is reported by its result code or as no value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ax {

// A backend's reference to one accessibility element. Backends subclass it to carry their handle;
// the core only copies, stores and compares references (through Platform::isEqual).
class ElementRef {
 public:
  virtual ~ElementRef() = default;
};
using Element = std::shared_ptr<const ElementRef>;

struct Point {
  double x = 0;
  double y = 0;
};
struct Size {
  double w = 0;
  double h = 0;
};
struct Rect {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
};

// The result code of a successful read, and the one an attribute the element does not have gives.
constexpr int32_t kSuccess = 0;
constexpr int32_t kAttributeUnsupported = -25205;
constexpr int32_t kNoValue = -25212;
// The application did not answer within the messaging timeout.
constexpr int32_t kCannotComplete = -25204;
// The element has no such action.
constexpr int32_t kActionUnsupported = -25206;

// The attribute names the core reads; every backend answers them (or fails the read). They keep
// clear of the "kAX" prefix: Apple's headers define macros of that form (kAXDescription, ...),
// which would replace a constant of the same name wherever both are visible.
namespace attribute {
inline constexpr char kRole[] = "AXRole";
inline constexpr char kPosition[] = "AXPosition";
inline constexpr char kSize[] = "AXSize";
inline constexpr char kChildren[] = "AXChildren";
inline constexpr char kTitle[] = "AXTitle";
inline constexpr char kDescription[] = "AXDescription";
inline constexpr char kPlaceholderValue[] = "AXPlaceholderValue";
inline constexpr char kValue[] = "AXValue";
inline constexpr char kEnabled[] = "AXEnabled";
inline constexpr char kURL[] = "AXURL";
inline constexpr char kWindows[] = "AXWindows";
inline constexpr char kFocusedWindow[] = "AXFocusedWindow";
inline constexpr char kFocusedUIElement[] = "AXFocusedUIElement";
inline constexpr char kMenuBar[] = "AXMenuBar";
inline constexpr char kManualAccessibility[] = "AXManualAccessibility";
}  // namespace attribute

// An attribute value of one of the kinds the walk tells apart.
struct Value {
  enum class Kind {
    kNull,        // the null object
    kText,        // text
    kInteger,     // a number without fraction; asString gives its decimal form
    kReal,        // a floating-point number; asString gives its shortest round-trip form
    kBoolean,     // a number carrying a boolean; asString gives "1" or "0"
    kUrl,         // text holds the absolute address
    kAttributed,  // text holds the plain characters
    kAxPoint,     // AXValue carrying a point (a, b)
    kAxSize,      // AXValue carrying a size (a, b)
    kAxError,     // AXValue of the error kind; integer holds the code
    kAxOther,     // AXValue of any other kind (a rectangle, a range)
    kElement,     // element
    kList,        // list of values
  };

  Kind kind = Kind::kNull;
  std::string text{};
  int64_t integer = 0;
  double real = 0;
  bool boolean = false;
  double a = 0;
  double b = 0;
  ax::Element element{};
  std::vector<Value> list{};

  static Value null() { return Value{}; }
  static Value ofText(std::string t) { return {.kind = Kind::kText, .text = std::move(t)}; }
  static Value ofInteger(int64_t i) { return {.kind = Kind::kInteger, .integer = i}; }
  static Value ofReal(double d) { return {.kind = Kind::kReal, .real = d}; }
  static Value ofBoolean(bool flag) { return {.kind = Kind::kBoolean, .boolean = flag}; }
  static Value ofUrl(std::string address) {
    return {.kind = Kind::kUrl, .text = std::move(address)};
  }
  static Value ofAttributed(std::string plain) {
    return {.kind = Kind::kAttributed, .text = std::move(plain)};
  }
  static Value ofPoint(double x, double y) { return {.kind = Kind::kAxPoint, .a = x, .b = y}; }
  static Value ofSize(double w, double h) { return {.kind = Kind::kAxSize, .a = w, .b = h}; }
  static Value ofAxError(int64_t code) { return {.kind = Kind::kAxError, .integer = code}; }
  static Value ofAxOther() { return {.kind = Kind::kAxOther}; }
  static Value ofElement(ax::Element e) {
    return {.kind = Kind::kElement, .element = std::move(e)};
  }
  static Value ofList(std::vector<Value> entries) {
    return {.kind = Kind::kList, .list = std::move(entries)};
  }
};

// One single-attribute read: a result code (kSuccess = 0) and, on success, a value that may be
// absent.
struct ReadResult {
  int32_t code = kSuccess;
  std::optional<Value> value;
};

// One batched read: a result code and, on success, a list meant to hold one entry per name. An
// attribute that failed inside a successful batch comes back as Value::null() or an AxError
// value; an entry may also be absent. The core checks the length itself.
struct BatchResult {
  int32_t code = kSuccess;
  std::optional<std::vector<std::optional<Value>>> values;
};

struct FrontmostApplication {
  int32_t pid = 0;
  std::optional<std::string> name;      // display name, or none
  std::optional<std::string> bundleId;  // bundle identifier (or the Linux equivalent), or none
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Whether this process may read other applications' interfaces, without asking the user.
  virtual bool isProcessTrusted() = 0;
  // The same question, asking the system to show its permission prompt when not trusted.
  virtual bool isProcessTrustedWithPrompt() = 0;
  // The text of the not-trusted error line: what the user must do on this system.
  virtual std::string notTrustedMessage() = 0;
  // Why this backend cannot give true screen positions in the session it runs in (a desktop it
  // does not support), or none. Asked before trust: such a run reads nothing.
  virtual std::optional<std::string> unsupportedSession() { return std::nullopt; }

  // The application that has the user's focus, or none.
  virtual std::optional<FrontmostApplication> frontmostApplication() = 0;
  // The screens' frames in the system's order, in screen points (origin at the top-left corner
  // of the first screen, y growing downwards).
  virtual std::vector<Rect> screens() = 0;

  // A target the caller names instead of the frontmost application. Each prepares the system
  // side as frontmostApplication does (the window's title and place, connections), so the walk
  // that follows reads it the same way; none when there is no such application or window.
  //
  // The application with that process id, with windows or on the accessibility service.
  virtual std::optional<FrontmostApplication> applicationWithPid(int32_t pid) = 0;
  // The application that owns the top-level window with that system id (the X11 window id, the
  // macOS window number).
  virtual std::optional<FrontmostApplication> applicationOfWindow(uint64_t window) = 0;
  // That window's element in the application's tree, null when none matches it.
  virtual Element windowElement(const Element& app, uint64_t window) = 0;

  virtual Element createApplicationElement(int32_t pid) = 0;
  // Every later request to the application's elements gives up after this many seconds (a
  // backend may set it for all its requests, as the macOS one does).
  virtual void setMessagingTimeout(const Element& app, float seconds) = 0;
  // Sets a boolean attribute; the result is ignored by the caller.
  virtual void setBooleanAttribute(const Element& element, const std::string& name, bool value) = 0;

  virtual ReadResult copyAttributeValue(const Element& element, const std::string& name) = 0;
  virtual BatchResult copyMultipleAttributeValues(const Element& element,
                                                  const std::vector<std::string>& names) = 0;
  // Whether two references denote the same element.
  virtual bool isEqual(const Element& a, const Element& b) = 0;

  // The run resolves one element by its path instead of walking a window: a backend may leave
  // out what only a walk needs (reads sent ahead of it, the window's place and scale on the
  // screen, extra connections). Called before the target is looked up.
  virtual void prepareLookup() {}
  // After the walk: why the records' places cannot be trusted (the window is drawn at another
  // scale than the one the compositor gives it), none when they can.
  virtual std::optional<std::string> misplacedWindow() { return std::nullopt; }
  // The child at `index` in the element's children as AXChildren lists them, null when there is
  // none or it cannot be read. A backend that can ask for one child overrides it; this one reads
  // the whole list.
  virtual Element childAt(const Element& parent, size_t index);

  // Invokes the element's own action: kSuccess; kActionUnsupported when the element has no such
  // action (nothing to press, not editable, cannot take the focus); another code when the
  // application refused or did not answer. `text` is the new text of kSetText, valid UTF-8.
  enum class Action { kPress, kFocus, kSetText };
  virtual int32_t performAction(const Element& element, Action action, const std::string& text) = 0;
  // A reference to the same element whose reads ask the application again rather than answer
  // from what earlier reads fetched: the element's state after an action.
  virtual Element refreshed(const Element& element) = 0;

  // Blocks for that many seconds (callers pass only positive finite values).
  virtual void sleepFor(double seconds) = 0;
  // Wall-clock seconds from an arbitrary origin; only differences are used.
  virtual double now() = 0;
};

// The real platform of the system the tool is built for; CMake links one system backend into
// vantic-ax. Never null: a backend that cannot reach the accessibility service answers as not
// trusted.
std::unique_ptr<Platform> createSystemPlatform();

}  // namespace ax
