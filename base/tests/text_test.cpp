#include "base/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orvik::base {
namespace {

TEST(TrimWhiteSpace, TakesUnicodeWhiteSpaceFromBothEndsOnly) {
  const struct {
    std::string_view text, trimmed;
  } cases[] = {
      {"  a b  ", "a b"},
      {"\t\n\r\v\f{}\n", "{}"},
      {"\u00a0\u2028\u3000x\u205f\u0085", "x"},  // two- and three-byte white space
      {"\u200bx\u200b", "\u200bx\u200b"},         // a zero width space is no white space
      {"   ", ""},
      {"", ""},
      {"\xe3\x80 x", "\xe3\x80 x"},  // a cut character stops the trim at the front
      {"x \x80", "x \x80"},          // and at the back
      {"x\u3000\xa0", "x\u3000\xa0"},
  };
  for (const auto& c : cases) EXPECT_EQ(trim_white_space(c.text), c.trimmed) << ::testing::PrintToString(c.text);
}

TEST(TerminalSafe, ShowsEveryCharacterThatCouldActOnTheTerminalAsAStandIn) {
  const struct {
    std::string_view text, shown;
  } cases[] = {
      {"plain text, é 中 😀", "plain text, é 中 😀"},
      {"\x1b[2J\x07\x7f", "\u241b[2J\u2407\u2421"},  // C0 and DEL: control pictures
      {"a\u0085b\u009bc", "a\uFFFDb\uFFFDc"},        // C1
      {"abc\u202edef", "abc\uFFFDdef"},              // a bidirectional override would turn what follows
      {"\u2066x\u2069\u200b", "\uFFFDx\uFFFD\uFFFD"},
      {"a\u2028b\u2029c", "a\uFFFDb\uFFFDc"},        // line and paragraph separators
      {"\u0378", "\uFFFD"},                          // unassigned
      {"\xff\xe2\x82" "a", "\uFFFD\uFFFDa"},          // not UTF-8: one U+FFFD per ill-formed subpart
      {"👩\u200d💻 👍🏽\u200d👍", "👩\u200d💻 👍🏽\u200d👍"},  // a joiner between pictographs joins them
      {"a\u200db 👩\u200d", "a\uFFFDb 👩\uFFFD"},              // anywhere else it is a format character
  };
  for (const auto& c : cases) EXPECT_EQ(terminal_safe(c.text), c.shown) << ::testing::PrintToString(c.text);
}

TEST(TerminalSafe, AgreesWithTheStandInsOfTheCells) {
  for (char32_t c = 0; c < 0x20; ++c) {
    EXPECT_TRUE(is_terminal_unsafe(c));
    EXPECT_EQ(terminal_stand_in(c), 0x2400 + c);
  }
  EXPECT_EQ(terminal_stand_in(0x7f), U'\u2421');
  for (const char32_t c : {U'\u0080', U'\u009f', U'\u00ad', U'\u202e', U'\ufeff', U'\U000E0001'}) {
    EXPECT_TRUE(is_terminal_unsafe(c)) << static_cast<unsigned>(c);
    EXPECT_EQ(terminal_stand_in(c), U'\uFFFD');
  }
  for (const char32_t c : {U' ', U'~', U'\u00a0', U'\u00e9', U'\u0301', U'\u2010', U'\U0001F600'})
    EXPECT_FALSE(is_terminal_unsafe(c)) << static_cast<unsigned>(c);
}

}  // namespace
}  // namespace orvik::base
