#include "term/widgets.hpp"

#include <gtest/gtest.h>

#include "term/frame.hpp"
#include "term/testing.hpp"

namespace orvik::term {
namespace {

using testing::render_widget;
using testing::rows;
using testing::style_runs;
using testing::StyleRun;
using Rows = std::vector<std::string>;

TEST(Block, RoundedBorderWithTitle) {
  EXPECT_EQ(rows(render_widget(Block{.title = " Flow "}, 10, 3)), (Rows{
      "╭ Flow ──╮",
      "│        │",
      "╰────────╯"}));
}

TEST(Block, DrawsOnlyTheChosenSides) {
  const struct {
    Borders borders;
    Rows expected;
  } cases[] = {
      {Borders::Top | Borders::Left | Borders::Right, {"╭ T─╮", "│   │", "│   │"}},
      {Borders::Left | Borders::Right, {"│ T │", "│   │", "│   │"}}  /* the title takes the first row all the same */,
      {Borders::Left | Borders::Right | Borders::Bottom, {"│ T │", "│   │", "╰───╯"}},
      {Borders::Top, {" T───", "     ", "     "}},
      {Borders::None, {" T   ", "     ", "     "}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rows(render_widget(Block{.title = " T", .borders = c.borders}, 5, 3)), c.expected)
        << static_cast<int>(c.borders);
}

TEST(Block, OneCellHighOrWideKeepsTheTopAndLeft) {
  EXPECT_EQ(rows(render_widget(Block{.title = "T"}, 4, 1)), Rows{"╭T─╮"});
  EXPECT_EQ(rows(render_widget(Block{}, 1, 3)), (Rows{"╭", "│", "╰"}));
}

TEST(Block, TitleIsCutBeforeTheCorner) {
  EXPECT_EQ(rows(render_widget(Block{.title = " Events (newest first) "}, 8, 2)), (Rows{"╭ Event╮", "╰──────╯"}));
}

TEST(Block, StyleCoversTheWholeAreaTitleIncluded) {
  const auto buf = render_widget(Block{.title = "T", .style = Style::with_fg(Color::DarkGray)}, 4, 3);
  for (std::uint16_t y = 0; y < 3; ++y)
    EXPECT_EQ(style_runs(buf, y), (std::vector<StyleRun>{{testing::row(buf, y), Color::DarkGray}}));
}

TEST(Paragraph, StyleColoursItsBlockToo) {
  const Paragraph p{.lines = {Line{{Span{"x"}}}}, .style = Style::with_fg(Color::DarkGray), .block = Block{.title = "D"}};
  const auto buf = render_widget(p, 4, 3);
  EXPECT_EQ(rows(buf), (Rows{"╭D─╮", "│x │", "╰──╯"}));
  for (std::uint16_t y = 0; y < 3; ++y)
    EXPECT_EQ(style_runs(buf, y), (std::vector<StyleRun>{{testing::row(buf, y), Color::DarkGray}}));
}

TEST(Block, InnerAreaShrinksWithoutWrapping) {
  EXPECT_EQ(inner(Block{}, Rect{1, 2, 10, 5}), (Rect{2, 3, 8, 3}));
  EXPECT_EQ(inner(Block{.borders = Borders::Left | Borders::Right}, Rect{0, 0, 10, 1}), (Rect{1, 0, 8, 1}));
  EXPECT_EQ(inner(Block{}, Rect{4, 4, 1, 1}), (Rect{5, 5, 0, 0}));
  EXPECT_EQ(inner(Block{}, Rect{4, 4, 0, 0}), (Rect{4, 4, 0, 0}));
}

TEST(Widgets, DrawNothingOutsideTheirArea) {
  auto buf = Buffer::empty({0, 0, 6, 4});
  const Rect area{1, 1, 3, 2};
  Frame frame{buf};
  frame.render_widget(Paragraph{.lines = {Line{{Span{"abcdefgh", {}}}}}, .block = Block{}}, area);
  frame.render_widget(List{.items = {ListItem{Line{{Span{"xyz", {}}}}}}}, Rect{4, 3, 9, 9});
  frame.render_widget(Gauge{.ratio = 1.0, .label = "lbl"}, Rect{5, 0, 0, 4});
  EXPECT_EQ(rows(buf), (Rows{
      "      ",
      " ╭─╮  ",
      " ╰─╯  ",
      "    xy"}));
}

TEST(Paragraph, CutsLinesAtTheRightAndRowsAtTheBottom) {
  const Paragraph p{.lines = {Line{{Span{"one ", {}}, Span{"two", Style::with_fg(Color::Cyan, true)}}},
                              Line{{Span{"three", {}}}}, Line{{Span{"four", {}}}}},
                    .block = Block{.title = "P"}};
  const auto buf = render_widget(p, 7, 4);
  EXPECT_EQ(rows(buf), (Rows{
      "╭P────╮",
      "│one t│",
      "│three│",
      "╰─────╯"}));
  EXPECT_EQ(style_runs(buf, 1), (std::vector<StyleRun>{{"│one ", Color::Reset}, {"t", Color::Cyan, true}, {"│"}}));
}

TEST(Paragraph, CutsWideCharactersCleanly) {
  // Each of 漢字 takes two cells; the one that would straddle the border is left out, not half drawn, and
  // nothing after it slips into the free cell.
  const Paragraph p{.lines = {Line{{Span{"a漢字", {}}, Span{"z", {}}}}}, .block = Block{}};
  const auto buf = render_widget(p, 6, 3);
  EXPECT_EQ(rows(buf), (Rows{"╭────╮", "│a漢 │", "╰────╯"}));
  EXPECT_EQ(buf.at(2, 1).symbol, "漢");
  EXPECT_EQ(buf.at(3, 1).symbol, "");
  EXPECT_EQ(buf.at(4, 1).symbol, " ");
}

TEST(Paragraph, LineStyleLiesUnderItsSpans) {
  const Paragraph p{.lines = {Line{{Span{"a", Style::with_fg(Color::Red)}, Span{"b", {}}}, Style::with_fg(Color::Cyan, true)}}};
  EXPECT_EQ(style_runs(render_widget(p, 3, 1), 0),
            (std::vector<StyleRun>{{"a", Color::Red, true}, {"b", Color::Cyan, true}, {" "}}));
}

TEST(List, ItemsFromTheTopCutAtTheBottom) {
  List list{.block = Block{.title = "L"}};
  for (const char* t : {"first", "second", "third"}) list.items.push_back(ListItem{Line{{Span{t, {}}}}});
  EXPECT_EQ(rows(render_widget(list, 8, 4)), (Rows{
      "╭L─────╮",
      "│first │",
      "│second│",
      "╰──────╯"}));
}

TEST(Gauge, FillsWholeCellsRoundedToNearest) {
  const struct {
    double ratio;
    std::string bar;
  } cases[] = {
      {0.0, "          "}, {0.04, "          "}, {0.05, "█         "}, {0.5, "█████     "},
      {0.94, "█████████ "}, {0.95, "██████████"}, {1.0, "██████████"}, {7.0, "██████████"},
      {-1.0, "          "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rows(render_widget(Gauge{.ratio = c.ratio}, 10, 1)), Rows{c.bar}) << c.ratio;
}

TEST(Gauge, LabelIsCentredInTheDefaultStyle) {
  const Gauge g{.ratio = 0.5, .label = "ab", .gauge_style = Style::with_fg(Color::Red),
                .block = Block{.title = "G", .borders = Borders::Top | Borders::Left | Borders::Right}};
  const auto buf = render_widget(g, 9, 2);
  EXPECT_EQ(rows(buf), (Rows{"╭G──────╮", "│██ab   │"}));
  EXPECT_EQ(style_runs(buf, 1), (std::vector<StyleRun>{{"│"}, {"██", Color::Red}, {"ab   │"}}));
}

TEST(Gauge, LabelWiderThanTheBarIsCut) {
  EXPECT_EQ(rows(render_widget(Gauge{.ratio = 1.0, .label = "label"}, 3, 1)), Rows{"lab"});
  EXPECT_EQ(rows(render_widget(Gauge{.ratio = 1.0, .label = "ab"}, 5, 3)), (Rows{"█████", "█ab██", "█████"}));
}

}  // namespace
}  // namespace orvik::term
