// The compact JSON writer of the snapshot tool.
//
// Output rules, which the tool's callers rely on: no white space between tokens; UTF-8 written as
// is (no \u escapes for non-ASCII); '"' and '\' escaped; the solidus escaped as "\/" (the macOS
// platform writer does so, and callers' fixtures compare such bytes); control characters U+0000 to
// U+001F as \b \f \n \r \t or \u00XX. Texts from other applications may be ill-formed UTF-8: each
// ill-formed sequence is written as U+FFFD (see repairUtf8), so the output is always valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ax {

// Appends `text` as a JSON string literal, quotes included.
void appendJsonString(std::string& out, std::string_view text);

// Streams one JSON text. Commas and colons are placed by the writer; the caller keeps the nesting
// balanced.
class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  void key(std::string_view name);
  void string(std::string_view text);
  void integer(int64_t value);
  void boolean(bool value);
  // JSON has no infinities or NaN: an infinity is written as the largest finite double of its
  // sign, and NaN as 0, so that the text always parses. Callers that care choose before.
  void number(double value);

  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  void beforeValue();

  std::string out_;
  std::vector<bool> hasEntry_;  // one per open object or array
  bool afterKey_ = false;
};

}  // namespace ax
