#include "base/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orvik::base {
namespace {

TEST(CheckUtf8, FindsWhereTheValidTextEndsWhereverItLiesInTheWideSteps) {
  const std::string ascii(40, 'a');
  const struct {
    std::string text;
    Utf8Check result;
    std::size_t stops_at;
  } cases[] = {
      {ascii, Utf8Check::Valid, 40},
      {ascii.substr(0, 15) + "\xff" + ascii, Utf8Check::Invalid, 15},
      {ascii.substr(0, 16) + "\xff" + ascii, Utf8Check::Invalid, 16},
      {ascii.substr(0, 33) + "\xc0\xaf", Utf8Check::Invalid, 33},           // overlong
      {ascii + "\xed\xa0\x80", Utf8Check::Invalid, 40},                     // surrogate
      {ascii + "\xe2\x82", Utf8Check::Truncated, 40},                        // cut by the end
      {ascii + "\xe2\x82" + "a", Utf8Check::Invalid, 40},                    // cut by another character
      {ascii.substr(0, 14) + "\U0001F600\u00e9\u4e2d" + ascii, Utf8Check::Valid, 14 + 4 + 2 + 3 + 40},
      {ascii.substr(0, 20) + "\xf4\x90\x80\x80", Utf8Check::Invalid, 20},  // past U+10FFFF
      {"\x80", Utf8Check::Invalid, 0},
      {"\xf5", Utf8Check::Invalid, 0},
  };
  for (const auto& c : cases) {
    std::size_t pos = 0;
    EXPECT_EQ(check_utf8(c.text, pos), c.result) << ::testing::PrintToString(c.text);
    EXPECT_EQ(pos, c.stops_at) << ::testing::PrintToString(c.text);
  }
}

// Each ill-formed subpart is skipped whole, so that a cut or stray sequence shows as one U+FFFD.
TEST(NextChar, DecodesOrSkipsOneMaximalSubpart) {
  const struct {
    std::string text;
    std::optional<char32_t> c;
    std::size_t end;
  } cases[] = {
      {"a", U'a', 1},
      {"\u00e9", U'\u00e9', 2},
      {"\u4e2d", U'\u4e2d', 3},
      {"\U0001F600", U'\U0001F600', 4},
      {"\xe2\x82", std::nullopt, 2},        // cut by the end
      {"\xe2\x82" "a", std::nullopt, 2},    // cut by another character
      {"\xe0\x80\x80", std::nullopt, 1},   // overlong: the second byte is already wrong
      {"\xed\xa0\x80", std::nullopt, 1},   // surrogate
      {"\x80\x80", std::nullopt, 1},
      {"\xf4\x90\x80\x80", std::nullopt, 1},
  };
  for (const auto& c : cases) {
    std::size_t pos = 0;
    EXPECT_EQ(next_char(c.text, pos), c.c) << ::testing::PrintToString(c.text);
    EXPECT_EQ(pos, c.end) << ::testing::PrintToString(c.text);
  }
}

TEST(EncodeUtf8, RoundTripsEveryLengthAndItsEdges) {
  for (const char32_t c : {U'\0', U'\x7f', U'\x80', U'\u07ff', U'\u0800', U'\uffff', U'\U00010000', U'\U0010FFFF'}) {
    std::string bytes;
    append_utf8(bytes, c);
    std::size_t pos = 0;
    EXPECT_EQ(next_char(bytes, pos), c);
    EXPECT_EQ(pos, bytes.size());
    EXPECT_TRUE(is_utf8(bytes));
  }
}

TEST(Utf8Lossy, ReplacesEachIllFormedSubpart) {
  EXPECT_EQ(utf8_lossy("a\xe2\x82" "b\xff\xfe\u00e9"), "a\uFFFD" "b\uFFFD\uFFFD\u00e9");
  EXPECT_EQ(utf8_lossy(""), "");
}

}  // namespace
}  // namespace orvik::base
