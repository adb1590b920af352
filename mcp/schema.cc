#include "mcp/schema.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <regex>

#include "common/numbers.h"

namespace mcp {
namespace {

// Integers beyond this are not exact as doubles, so a float written for one is refused.
constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53

// Bounds as people write them: 100000 rather than 1e+05.
std::string number(double value) {
  if (std::trunc(value) == value && std::fabs(value) <= kLargestExactInteger) {
    return std::to_string(static_cast<int64_t>(value));
  }
  return mevrik::formatShortest(value);
}

// A whole number. Its range is checked apart (checkNumber): an integer beyond 64 bits reads as a
// float, and one from 2^63 up reads as unsigned, which a signed 64-bit integer would wrap.
bool isIntegral(const Json& value) {
  if (value.is_number_integer()) return true;
  if (!value.is_number_float()) return false;
  const double v = value.get<double>();
  return !std::isfinite(v) || std::trunc(v) == v;
}

std::optional<ArgumentError> invalid(const std::string& message) {
  return ArgumentError{true, message};
}

std::optional<ArgumentError> checkString(const Json& schema, const std::string& name,
                                         const std::string& text) {
  // A tool's arguments travel as C strings: everything after a NUL would be lost unseen.
  if (text.find('\0') != std::string::npos) {
    return invalid(name + " must not contain NUL (U+0000)");
  }
  if (schema.contains("maxLength")) {
    const size_t most = schema["maxLength"].get<size_t>();
    if (const size_t length = characterCount(text); length > most) {
      return invalid(name + " is " + std::to_string(length) + " characters long, more than the " +
                     std::to_string(most) + " one call takes: split it over several calls");
    }
  }
  // The length is checked first: the pattern matcher recurses once per character.
  if (schema.contains("pattern")) {
    const std::string pattern = schema["pattern"];
    if (!std::regex_search(text, std::regex(pattern)))
      return invalid(name + " must match " + pattern);
  }
  return std::nullopt;
}

std::optional<ArgumentError> checkNumber(const Json& schema, const std::string& name,
                                         const Json& value) {
  const double v = value.get<double>();
  // An integer without bounds of its own is kept where doubles are exact.
  const bool integer = schema["type"] == "integer";
  const bool exclusive = schema.contains("exclusiveMinimum");
  const bool hasLow = integer || exclusive || schema.contains("minimum");
  const bool hasHigh = integer || schema.contains("maximum");
  const double low = exclusive                    ? schema["exclusiveMinimum"].get<double>()
                     : schema.contains("minimum") ? schema["minimum"].get<double>()
                                                  : -kLargestExactInteger;
  const double high =
      schema.contains("maximum") ? schema["maximum"].get<double>() : kLargestExactInteger;
  // A number too large for a double compares by its rounded value, far out of any range given
  // here all the same; a literal beyond the double range (1e999) reads as infinite and fails.
  if (std::isfinite(v) && (!hasLow || (exclusive ? v > low : v >= low)) && (!hasHigh || v <= high))
    return std::nullopt;
  std::string range = "a finite number";
  if (hasLow && hasHigh) {
    range =
        (exclusive ? "above " + number(low) + " and at most " : "from " + number(low) + " to ") +
        number(high);
  } else if (hasLow) {
    range = (exclusive ? "above " : "at least ") + number(low);
  } else if (hasHigh) {
    range = "at most " + number(high);
  }
  return invalid(name + " must be " + range);
}

std::optional<ArgumentError> checkValue(const Json& schema, const std::string& name,
                                        const Json& value);

std::optional<ArgumentError> checkObject(const Json& schema, const std::string& prefix,
                                         const Json& arguments, const std::string& toolName) {
  const Json empty = Json::object();
  const Json& properties = schema.contains("properties") ? schema["properties"] : empty;
  for (const auto& [name, value] : arguments.items()) {
    if (!properties.contains(name)) {
      std::string known;
      for (const auto& [property, _] : properties.items()) {
        known += (known.empty() ? "" : ", ") + property;
      }
      return ArgumentError{false, "unknown argument " + prefix + name + "; " + toolName +
                                      " takes " + (known.empty() ? "no arguments" : known)};
    }
    if (auto error = checkValue(properties[name], prefix + name, value)) return error;
  }
  if (schema.contains("required")) {
    for (const Json& name : schema["required"]) {
      if (!arguments.contains(name.get<std::string>())) {
        return invalid("missing argument " + prefix + name.get<std::string>());
      }
    }
  }
  return std::nullopt;
}

std::optional<ArgumentError> checkValue(const Json& schema, const std::string& name,
                                        const Json& value) {
  const std::string type = schema["type"];
  if (type == "array") {
    if (!value.is_array() || !std::all_of(value.begin(), value.end(),
                                          [](const Json& item) { return item.is_string(); })) {
      return invalid(name + " must be an array of strings");
    }
    if (schema.contains("maxItems") && value.size() > schema["maxItems"].get<size_t>()) {
      return invalid(name + " has " + std::to_string(value.size()) + " items, more than the " +
                     schema["maxItems"].dump() + " one call takes: split it over several calls");
    }
    if (schema.contains("minItems") && value.size() < schema["minItems"].get<size_t>()) {
      return ArgumentError{false, name + " needs at least " + schema["minItems"].dump() +
                                      (schema["minItems"] == 1 ? " item" : " items")};
    }
    for (size_t k = 0; k < value.size(); ++k) {
      const std::string itemName = name + "[" + std::to_string(k) + "]";
      if (auto error = checkString(schema["items"], itemName, value[k].get<std::string>())) {
        return error;
      }
    }
    return std::nullopt;
  }
  if (type == "object") {
    if (!value.is_object()) return invalid(name + " must be an object");
    return checkObject(schema, name + ".", value, "it");
  }
  const bool fits = type == "number"    ? value.is_number()
                    : type == "integer" ? isIntegral(value)
                    : type == "boolean" ? value.is_boolean()
                                        : value.is_string();
  if (!fits) return invalid(name + " must be " + (type == "integer" ? "an " : "a ") + type);
  if (type == "boolean") return std::nullopt;
  if (type == "string") {
    if (auto error = checkString(schema, name, value.get<std::string>())) return error;
  } else if (auto error = checkNumber(schema, name, value)) {
    return error;
  }
  if (schema.contains("enum") &&
      std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
    return ArgumentError{false, name + " must be one of " + schema["enum"].dump()};
  }
  return std::nullopt;
}

}  // namespace

std::optional<ArgumentError> checkArguments(const Json& schema, const Json& arguments,
                                            const std::string& toolName) {
  return checkObject(schema, "", arguments, toolName);
}

size_t characterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  }));
}

}  // namespace mcp
