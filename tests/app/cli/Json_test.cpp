#include "app/cli/Json.h"

#include <gtest/gtest.h>

namespace quarnel::cli {
namespace {

// Any bytes make a valid JSON string, safe on a terminal; valid UTF-8 is kept as it is.
TEST(Json, EveryInputMakesAValidString) {
  struct Case {
    std::string in;
    std::string json;
  };
  const Case cases[] = {
      {"a \"b\" \\c", R"(a \"b\" \\c)"},
      {"line\nnext\ttab\r", R"(line\nnext\ttab\u000d)"},
      {"\x1b[2J\x7f", R"(\u001b[2J\u007f)"},
      {"i\xff.bin", R"(i\ufffd.bin)"},
      {"\xc2\x9b"
       "1m \x9b",
       R"(\u009b1m \ufffd)"},
      {"\xe6\x97", R"(\ufffd\ufffd)"},
      {"caf\xc3\xa9 \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xf0\x9f\x8e\xb5"},
      {"a\xe2\x80\xaenib.exe \xe2\x81\xa6\xe2\x81\xa9\xe2\x80\xaf",
       "a\\u202enib.exe \\u2066\\u2069\xe2\x80\xaf"},  // U+202F is no override
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonEscape(c.in), c.json) << ::testing::PrintToString(c.in);
  }
  EXPECT_EQ(JsonObject().Text("file", "i\xff.bin").str(), R"({"file":"i\ufffd.bin"})");
}

}  // namespace
}  // namespace quarnel::cli
