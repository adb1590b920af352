// The one interface through which the snapshot core reaches the platform.
//
// It exists so that the core (options, run flow, walk, JSON) is one piece of code for every
// system and can be driven by a scripted fake in tests. Backends: the scene fake
// (platform-scene.cc), AT-SPI2 on Linux (platform-atspi.cc), Accessibility on macOS
// (platform-mac.mm). Attribute names are the macOS ones ("AXRole", "AXChildren", ...); a backend
// for another system translates them.
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

// An attribute value of one of the kinds the walk tells apart.
struct Value {
  enum class Kind {
    Null,        // the null object
    Text,        // text
    Integer,     // a number without fraction; asString gives its decimal form
    Real,        // a floating-point number; asString gives its shortest round-trip form
    Boolean,     // a number carrying a boolean; asString gives "1" or "0"
    Url,         // text holds the absolute address
    Attributed,  // text holds the plain characters
    AxPoint,     // AXValue carrying a point (a, b)
    AxSize,      // AXValue carrying a size (a, b)
    AxError,     // AXValue of the error kind; integer holds the code
    AxOther,     // AXValue of any other kind (a rectangle, a range)
    Element,     // element
    List,        // list of values
  };

  Kind kind = Kind::Null;
  std::string text;
  int64_t integer = 0;
  double real = 0;
  bool boolean = false;
  double a = 0;
  double b = 0;
  ax::Element element;
  std::vector<Value> list;

  static Value null() { return Value{}; }
  static Value ofText(std::string t) {
    Value v;
    v.kind = Kind::Text;
    v.text = std::move(t);
    return v;
  }
  static Value ofInteger(int64_t i) {
    Value v;
    v.kind = Kind::Integer;
    v.integer = i;
    return v;
  }
  static Value ofReal(double d) {
    Value v;
    v.kind = Kind::Real;
    v.real = d;
    return v;
  }
  static Value ofBoolean(bool flag) {
    Value v;
    v.kind = Kind::Boolean;
    v.boolean = flag;
    return v;
  }
  static Value ofUrl(std::string address) {
    Value v = ofText(std::move(address));
    v.kind = Kind::Url;
    return v;
  }
  static Value ofAttributed(std::string plain) {
    Value v = ofText(std::move(plain));
    v.kind = Kind::Attributed;
    return v;
  }
  static Value ofPoint(double x, double y) {
    Value v;
    v.kind = Kind::AxPoint;
    v.a = x;
    v.b = y;
    return v;
  }
  static Value ofSize(double w, double h) {
    Value v = ofPoint(w, h);
    v.kind = Kind::AxSize;
    return v;
  }
  static Value ofAxError(int64_t code) {
    Value v;
    v.kind = Kind::AxError;
    v.integer = code;
    return v;
  }
  static Value ofAxOther() {
    Value v;
    v.kind = Kind::AxOther;
    return v;
  }
  static Value ofElement(ax::Element e) {
    Value v;
    v.kind = Kind::Element;
    v.element = std::move(e);
    return v;
  }
  static Value ofList(std::vector<Value> entries) {
    Value v;
    v.kind = Kind::List;
    v.list = std::move(entries);
    return v;
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

  // The application that has the user's focus, or none.
  virtual std::optional<FrontmostApplication> frontmostApplication() = 0;
  // The screens' frames in the system's order, in screen points (origin at the top-left corner
  // of the first screen, y growing downwards).
  virtual std::vector<Rect> screens() = 0;

  virtual Element createApplicationElement(int32_t pid) = 0;
  // Every later request to the application's elements gives up after this many seconds.
  virtual void setMessagingTimeout(const Element& app, float seconds) = 0;
  // Sets a boolean attribute; the result is ignored by the caller.
  virtual void setBooleanAttribute(const Element& element, const std::string& name, bool value) = 0;

  virtual ReadResult copyAttributeValue(const Element& element, const std::string& name) = 0;
  virtual BatchResult copyMultipleAttributeValues(const Element& element,
                                                  const std::vector<std::string>& names) = 0;
  // Whether two references denote the same element.
  virtual bool isEqual(const Element& a, const Element& b) = 0;

  // Blocks for that many seconds (callers pass only positive finite values).
  virtual void sleepFor(double seconds) = 0;
  // Wall-clock seconds from an arbitrary origin; only differences are used.
  virtual double now() = 0;
};

}  // namespace ax
