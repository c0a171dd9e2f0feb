#include "base/Text.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

// What a terminal is shown of names from outside: controls of every kind, the bidirectional
// overrides and bytes that are not UTF-8 become '?', one for each byte; characters of any
// script stay.
TEST(Text, ShownLetsNoControlOrBrokenUtf8Through) {
  struct Case {
    std::string in;
    std::string shown;
  };
  const Case cases[] = {
      {"plain name.bin", "plain name.bin"},
      {"a\nFW UPDATE OK!", "a?FW UPDATE OK!"},
      {"\x1b[2J\r\t\x7f", "?[2J???"},
      {std::string("nul\0x", 5), "nul?x"},
      {"csi \xc2\x9b"
       "31m",
       "csi ??31m"},  // C1 CSI in UTF-8
      {"csi \x9b"
       "31m",
       "csi ?31m"},                                  // C1 CSI as one byte
      {"\xc2\x80\xc2\x9f\xc2\xa0", "????\xc2\xa0"},  // U+0080, U+009F; U+00A0 is no control
      {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb5"},
      {"i\xff.bin", "i?.bin"},
      {"cut \xe6\x97", "cut ??"},           // a character cut short
      {"\xc0\x9b \xe0\x80\x9b", "?? ???"},  // overlong forms of ESC
      {"\xed\xa0\x80", "???"},              // a surrogate
      {"\xf4\x90\x80\x80", "????"},         // beyond U+10FFFF
      // Bidirectional overrides and isolates would show "nib.exe" as "exe.bin".
      {"Saved \xe2\x80\xaenib.exe", "Saved ???nib.exe"},      // U+202E
      {"\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9", "?????????"},  // U+202A, U+2066, U+2069
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",    // U+2029, U+202F, U+2065,
       "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},   // U+206A: no overrides
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(c.in), c.shown) << ::testing::PrintToString(c.in);
    EXPECT_EQ(Quoted(c.in), "'" + c.shown + "'") << ::testing::PrintToString(c.in);
  }
}

TEST(Text, QuotedCutsLongTextAtACharactersEnd) {
  // 31 bytes, then a character of 3 that would end at byte 34: cut before it.
  const std::string text = std::string(31, 'x') + "\xe6\x97\xa5" + std::string(40, 'y');
  EXPECT_EQ(Quoted(text), "'" + std::string(31, 'x') + "...'");
  EXPECT_EQ(Quoted(std::string(64, 'z')), "'" + std::string(64, 'z') + "'");
}

}  // namespace
}  // namespace quarnel
