#include "ax/json.h"

#include <cmath>
#include <limits>

#include "ax/text.h"
#include "common/numbers.h"

namespace ax {

void appendJsonString(std::string& out, std::string_view raw) {
  const std::string text = repairUtf8(raw);
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasEntry_.empty()) {
    if (hasEntry_.back()) out_ += ',';
    hasEntry_.back() = true;
  }
}

void JsonWriter::beginObject() {
  beforeValue();
  out_ += '{';
  hasEntry_.push_back(false);
}

void JsonWriter::endObject() {
  out_ += '}';
  hasEntry_.pop_back();
}

void JsonWriter::beginArray() {
  beforeValue();
  out_ += '[';
  hasEntry_.push_back(false);
}

void JsonWriter::endArray() {
  out_ += ']';
  hasEntry_.pop_back();
}

void JsonWriter::key(std::string_view name) {
  beforeValue();
  appendJsonString(out_, name);
  out_ += ':';
  afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
  beforeValue();
  appendJsonString(out_, text);
}

void JsonWriter::integer(int64_t value) {
  beforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::number(double value) {
  beforeValue();
  if (std::isnan(value)) value = 0;
  if (std::isinf(value)) {
    value = std::copysign(std::numeric_limits<double>::max(), value);
  }
  out_ += mevrik::formatShortest(value);
}

}  // namespace ax
