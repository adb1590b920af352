#include "ax/json.h"

#include <gtest/gtest.h>

#include <limits>

namespace ax {
namespace {

std::string jsonQuoted(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

TEST(JsonTest, EscapesTheWayThePlatformWriterDoes) {
  EXPECT_EQ(jsonQuoted("https://a.example/b"), R"("https:\/\/a.example\/b")");
  EXPECT_EQ(jsonQuoted("say \"hi\" \\ there"), R"("say \"hi\" \\ there")");
  EXPECT_EQ(jsonQuoted("a\nb\tc\rd\be\ff"), R"("a\nb\tc\rd\be\ff")");
  EXPECT_EQ(jsonQuoted(std::string("\x01\x1f\0", 3)), R"("\u0001\u001f\u0000")");
  // Non-ASCII stays as UTF-8, DEL and the line separators included.
  EXPECT_EQ(jsonQuoted("\x7f caf\u00e9 \u65e5 \U0001F600 \u2028"),
            "\"\x7f caf\u00e9 \u65e5 \U0001F600 \u2028\"");
}

TEST(JsonTest, WritesIllFormedUtf8AsReplacementCharacters) {
  EXPECT_EQ(jsonQuoted("a\xc3"), "\"a\ufffd\"");
  EXPECT_EQ(jsonQuoted("\xed\xa0\x80/"), "\"\ufffd\ufffd\ufffd\\/\"");
}

TEST(JsonTest, PlacesCommasAndWritesNumbersThatParse) {
  JsonWriter json;
  json.beginObject();
  json.key("a");
  json.beginArray();
  json.integer(-9223372036854775807 - 1);
  json.boolean(true);
  json.beginObject();
  json.endObject();
  json.beginArray();
  json.endArray();
  json.endArray();
  json.key("n");
  json.number(0.5);
  json.key("big");
  json.number(1e5);
  json.key("inf");
  json.number(-std::numeric_limits<double>::infinity());
  json.key("nan");
  json.number(std::numeric_limits<double>::quiet_NaN());
  json.endObject();
  EXPECT_EQ(json.text(), R"({"a":[-9223372036854775808,true,{},[]],"n":0.5,"big":1e+05,)"
                         R"("inf":-1.7976931348623157e+308,"nan":0})");
}

}  // namespace
}  // namespace ax
