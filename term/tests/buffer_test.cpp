#include "term/buffer.hpp"

#include <gtest/gtest.h>

#include "term/testing.hpp"

namespace orvik::term {
namespace {

using testing::rows;

std::vector<std::string> symbols(std::string_view text) {
  std::vector<std::string> out;
  for (const auto& g : graphemes(text)) out.push_back(g.symbol);
  return out;
}

TEST(Graphemes, TurnWhatCouldActOnATerminalIntoVisibleStandIns) {
  const struct {
    std::string_view text;
    std::vector<std::string> expected;
  } cases[] = {
      {"a\x1b[2Jb", {"a", "␛", "[", "2", "J", "b"}},    // an escape sequence loses its escape
      {"a\nb\r\t", {"a", "␊", "b", "␍", "␉"}},          // line breaks stay on the row
      {"\x7f", {"␡"}},
      {"\xc2\x9b" "31m", {"\xEF\xBF\xBD", "3", "1", "m"}},  // C1 CSI
      {"x\xe2\x80\xaey", {"x", "\xEF\xBF\xBD", "y"}},       // right-to-left override (format character)
      {"\xff\xfe", {"\xEF\xBF\xBD", "\xEF\xBF\xBD"}},       // invalid UTF-8
      {"\xcc\x81" "a", {"\xEF\xBF\xBD", "a"}},              // a combining mark with nothing to sit on
      {"e\xcc\x81", {"e\xcc\x81"}},                         // ...and one that has a base
  };
  for (const auto& c : cases) EXPECT_EQ(symbols(c.text), c.expected) << c.text;
}

TEST(Graphemes, KeepAFewMarksOnABase) {
  std::string zalgo = "a";
  for (int i = 0; i < 50; ++i) zalgo += "\xcc\x81";  // U+0301
  zalgo += "b";
  const auto g = graphemes(zalgo);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0].symbol, "a\xcc\x81\xcc\x81\xcc\x81\xcc\x81");
  EXPECT_EQ(g[0].width, 1);
  EXPECT_EQ(g[1].symbol, "b");
  EXPECT_EQ(symbols("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"), std::vector<std::string>{"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"});  // a flag
}

// Each cell with its width, as "text/width".
std::vector<std::string> cells(std::string_view text) {
  std::vector<std::string> out;
  for (const auto& g : graphemes(text)) out.push_back(g.symbol + "/" + std::to_string(g.width));
  return out;
}

// Texts whose width terminals count differently: a cell holds more than one code point only where the
// cluster's width is known, and a code point that would add width starts a cell of its own.
TEST(Graphemes, ClustersHoldOnlyWhatAddsNoWidth) {
  const std::string family = "👨‍👩‍👧‍👦";  // longer than a cell holds inline
  const struct {
    const char* what;
    std::string text;
    std::vector<std::string> expected;
  } cases[] = {
      {"Hangul leading jamo, five", "ᄀᄀᄀᄀᄀ", {"ᄀ/2", "ᄀ/2", "ᄀ/2", "ᄀ/2", "ᄀ/2"}},
      {"a prepended mark before CJK", "\u0d4e中", {"\u0d4e/1", "中/2"}},
      {"one skin tone", "👍🏽", {"👍🏽/2"}},
      {"several skin tones", "👍🏽🏽🏽", {"👍🏽/2", "🏽/2", "🏽/2"}},
      {"a flag", "🇯🇵", {"🇯🇵/2"}},
      {"a flag and half of one", "🇯🇵🇩", {"🇯🇵/2", "🇩/1"}},
      {"joined emoji", "👩‍💻", {"👩‍💻/2"}},
      {"joined emoji with a skin tone", "👩🏽‍💻x", {"👩🏽‍💻/2", "x/1"}},
      {"a family", family + "x", {family + "/2", "x/1"}},
      {"presentation selector", "⚠️", {"⚠️/2"}},
      {"no presentation selector", "⚠", {"⚠/1"}},
      {"a joiner outside an emoji sequence", "a\u200db", {"a/1", "\ufffd/1", "b/1"}},
      {"a joiner that joins nothing", "👩\u200dx", {"👩/2", "\ufffd/1", "x/1"}},
      {"a joiner at the end", "👩\u200d", {"👩/2", "\ufffd/1"}},
      {"a joiner before a control character", "👩\u200d\x1b", {"👩/2", "\ufffd/1", "␛/1"}},
      {"a presentation selector on no emoji", "x\ufe0f", {"x\ufe0f/1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(cells(c.text), c.expected) << c.what;
}

// Each text of the table above on one row between two borders: the right border stays in the column that
// the widths give, and nothing spills past it.
TEST(Buffer, ClustersKeepTheBorderInItsColumn) {
  const struct {
    std::string text;
    std::string row;
  } cases[] = {
      {"ᄀᄀᄀᄀᄀ", "│ᄀᄀᄀᄀ│"},
      {"\u0d4e中中中中", "│\u0d4e中中中 │"},
      {"👍🏽🏽🏽🏽", "│👍🏽🏽🏽🏽│"},
      {"🇯🇵🇯🇵🇯🇵🇯🇵🇯🇵", "│🇯🇵🇯🇵🇯🇵🇯🇵│"},
      {"👩‍💻👩‍💻👩‍💻👩‍💻👩‍💻", "│👩‍💻👩‍💻👩‍💻👩‍💻│"},
      {"⚠️⚠️⚠️⚠️⚠️", "│⚠️⚠️⚠️⚠️│"},
  };
  for (const auto& c : cases) {
    auto buf = Buffer::empty({0, 0, 10, 1});
    buf.at(0, 0).symbol = "│";
    buf.at(9, 0).symbol = "│";
    buf.set_stringn(1, 0, c.text, 8, {});
    EXPECT_EQ(rows(buf)[0], c.row) << c.text;
    EXPECT_EQ(buf.at(9, 0).symbol, "│") << c.text;
  }
}

TEST(Symbol, HeldInlineOrSharedAndComparedByValue) {
  const std::string family = "👨‍👩‍👧‍👦";
  const auto a = Symbol::cluster(family, 2, 6), b = Symbol::cluster(family, 2, 6);
  EXPECT_EQ(a, b);  // the same long cluster is kept once
  EXPECT_EQ(a.view(), family);
  EXPECT_EQ(a.width(), 2);
  EXPECT_EQ(a.reach(), 6);
  EXPECT_NE(a, Symbol::cluster("👨‍👩‍👧", 2, 4));
  EXPECT_EQ(Symbol{}, " ");
  EXPECT_EQ(Symbol{}.width(), 1);
  EXPECT_EQ(Symbol("中").width(), 2);
  Symbol hidden;
  hidden.clear();
  EXPECT_TRUE(hidden.empty());
  EXPECT_EQ(hidden.width(), 0);
  EXPECT_TRUE(Symbol::ascii('x').is_ascii());
  EXPECT_FALSE(Symbol("é").is_ascii());
}

TEST(Graphemes, WidthsInCells) {
  const struct {
    std::string_view text;
    std::size_t width;
  } cases[] = {
      {"", 0}, {"abc", 3}, {"漢字", 4}, {"✓✗", 2}, {"⠋", 1}, {"\x1b", 1}, {"e\xcc\x81", 1}, {"…", 1}, {"‖", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(display_width(c.text), c.width) << c.text;
}

TEST(Buffer, SetStringStopsAtTheRightEdgeAndTheLimit) {
  auto buf = Buffer::empty({0, 0, 5, 3});
  EXPECT_EQ(buf.set_stringn(1, 0, "abcdef", 99, {}), 5);
  EXPECT_EQ(buf.set_stringn(0, 1, "abcdef", 2, {}), 2);
  EXPECT_EQ(buf.set_stringn(2, 2, "a漢字", 99, {}), 5);  // 字 would need a sixth column
  EXPECT_EQ(rows(buf), (std::vector<std::string>{" abcd", "ab   ", "  a漢"}));
  EXPECT_EQ(buf.set_stringn(9, 0, "x", 1, {}), 9);  // outside: nothing drawn, nothing broken
  EXPECT_EQ(buf.set_stringn(0, 9, "x", 1, {}), 0);
}

TEST(Buffer, StylesPatchTheCells) {
  auto buf = Buffer::empty({0, 0, 3, 1});
  buf.set_style(Rect{0, 0, 9, 9}, Style::with_fg(Color::DarkGray));
  buf.set_stringn(1, 0, "ab", 2, Style::with_fg(Color::Green, true));
  buf.set_stringn(2, 0, "c", 1, Style{});
  EXPECT_EQ(testing::style_runs(buf, 0), (std::vector<testing::StyleRun>{{" ", Color::DarkGray},
                                                                          {"ac", Color::Green, true}}));
}

TEST(Rect, IntersectionAndEdges) {
  EXPECT_EQ((Rect{2, 2, 4, 4}).intersection(Rect{4, 0, 10, 3}), (Rect{4, 2, 2, 1}));
  EXPECT_TRUE((Rect{0, 0, 2, 2}).intersection(Rect{5, 5, 1, 1}).empty());
  EXPECT_EQ((Rect{0xfff0, 0, 0x20, 1}).right(), 0xffff);
}

}  // namespace
}  // namespace orvik::term
