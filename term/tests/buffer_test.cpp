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
