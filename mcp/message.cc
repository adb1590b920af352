#include "mcp/message.h"

namespace mcp {
namespace {

// Builds the value as nlohmann's own DOM reader does, one container at a time on an explicit
// stack (no recursion), and stops at the first container beyond kMaxDepth.
class Reader : public nlohmann::json_sax<Json> {
 public:
  explicit Reader(ReadMessage& out) : out_(out) {}

  bool null() override { return scalar(nullptr, ""); }
  bool boolean(bool value) override { return scalar(value, ""); }
  bool number_integer(number_integer_t value) override {
    return scalar(value, std::to_string(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return scalar(value, std::to_string(value));
  }
  bool number_float(number_float_t value, const string_t& text) override {
    return scalar(value, text);
  }
  bool string(string_t& value) override {
    std::string text = Json(value).dump();
    return scalar(std::move(value), text);
  }
  bool binary(binary_t& value) override { return scalar(Json::binary(std::move(value)), ""); }

  bool start_object(std::size_t) override { return open(Json::object()); }
  bool start_array(std::size_t) override { return open(Json::array()); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    slot_ = &(*stack_.back())[name];
    idNext_ = stack_.size() == messageLevel_ && name == "id";
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    out_.outcome = ReadMessage::Outcome::kSyntaxError;
    return false;
  }

 private:
  // Places a value where the reader stands: the root, the next array element or the member
  // whose key was just read.
  Json* place(Json&& value) {
    if (stack_.empty()) {
      out_.value = std::move(value);
      return &out_.value;
    }
    Json& parent = *stack_.back();
    if (parent.is_array()) {
      // An element of a batch is a message of its own, with its own id.
      if (stack_.size() == 1) out_.ids.emplace_back();
      parent.push_back(std::move(value));
      return &parent.back();
    }
    *slot_ = std::move(value);
    return slot_;
  }

  bool scalar(Json&& value, const std::string& text) {
    if (idNext_) out_.ids.back() = value.is_number() || value.is_string() ? text : "";
    idNext_ = false;
    place(std::move(value));
    return true;
  }

  bool open(Json&& container) {
    if (stack_.size() >= kMaxDepth) {
      out_.outcome = ReadMessage::Outcome::kTooDeep;
      return false;
    }
    if (stack_.empty()) {
      // A batch's messages lie one level down.
      messageLevel_ = container.is_array() ? 2 : 1;
      if (container.is_object()) out_.ids.emplace_back();
    }
    if (idNext_) out_.ids.back().clear();
    idNext_ = false;
    stack_.push_back(place(std::move(container)));
    return true;
  }

  bool close() {
    stack_.pop_back();
    return true;
  }

  ReadMessage& out_;
  std::vector<Json*> stack_;
  Json* slot_ = nullptr;
  size_t messageLevel_ = 1;
  bool idNext_ = false;
};

}  // namespace

ReadMessage readMessage(std::string_view line) {
  ReadMessage out;
  // JSON text has no raw NUL (strings escape it), and the reader would end the text at one.
  if (line.find('\0') != std::string_view::npos) {
    out.outcome = ReadMessage::Outcome::kSyntaxError;
    return out;
  }
  Reader reader(out);
  if (!Json::sax_parse(line.begin(), line.end(), &reader) &&
      out.outcome == ReadMessage::Outcome::kOk) {
    out.outcome = ReadMessage::Outcome::kSyntaxError;
  }
  return out;
}

}  // namespace mcp
