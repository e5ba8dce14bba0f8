#include <gtest/gtest.h>

#include "fixtures.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {
namespace {

using namespace fixtures;

term::Buffer tokens(const Session& s, std::uint16_t width) {
  return term::testing::draw_into(width, 6, [&](term::Frame& f, term::Rect area) { draw_tokens_panel(f, area, s); });
}

TEST(TokensPanel, BeforeTheFirstTurn) {
  const auto buf = tokens(Session{}, 50);
  EXPECT_EQ(rows(buf), (Rows{
      "╭ Tokens (last turn) ────────────────────────────╮",
      "│                  no turns yet                  │",
      "│ session total  in=0  out=0  cache_r=0          │",
      "│ est. cost: $0.0000                             │",
      "╰────────────────────────────────────────────────╯",
      "                                                  "}));
  EXPECT_EQ(style_runs(buf, 1), (Runs{{rows(buf)[1]}}));  // an empty bar, nothing coloured
  for (std::uint16_t y = 2; y <= 4; ++y) EXPECT_EQ(style_runs(buf, y), (Runs{{rows(buf)[y], Color::DarkGray}})) << y;
}

TEST(TokensPanel, BarColourAndFillFollowTheLastTurn) {
  const struct {
    TokenUsage last;
    Color colour;
    std::size_t filled;  // of 20 cells
    std::string label;
  } cases[] = {
      {{99999, 0, 0, 0}, Color::Green, 10, "last turn  in=99999 out=0  cache_r=0"},
      {{60000, 40000, 7, 9}, Color::Yellow, 10, "last turn  in=60000 out=40000  cache_r=7"},
      {{159999, 0, 0, 0}, Color::Yellow, 16, "last turn  in=159999 out=0  cache_r=0"},
      {{100000, 60000, 0, 0}, Color::Red, 16, "last turn  in=100000 out=60000  cache_r=0"},
      {{300000, 0, 0, 0}, Color::Red, 20, "last turn  in=300000 out=0  cache_r=0"},
      {{UINT64_MAX, 2, 0, 0}, Color::Red, 20, "last turn  in=18446744073709551615 out=2  cache_r=0"},  // no wrap
      {{1000, 0, 0, 0}, Color::Green, 0, "last turn  in=1000 out=0  cache_r=0"},
      // Cache reads and cache creation are not part of the ratio, however large.
      {{1000, 500, 190000, 150000}, Color::Green, 0, "last turn  in=1000 out=500  cache_r=190000"},
  };
  for (const auto& c : cases) {
    Session s;
    s.last_usage = c.last;
    // A bar wider than the label, so the label only covers its middle.
    const auto buf = term::testing::draw_into(22, 6, [&](term::Frame& f, term::Rect area) { draw_tokens_panel(f, area, s); });
    const auto wide = tokens(s, 80);
    EXPECT_NE(rows(wide)[1].find(c.label), std::string::npos) << c.label;
    std::size_t bar = 0;
    for (std::uint16_t x = 1; x < 21; ++x)
      if (buf.at(x, 1).symbol == "█") {
        ++bar;
        EXPECT_EQ(buf.at(x, 1).fg, c.colour) << c.label;
      }
    // The label's cells take the place of the bar under them.
    std::size_t label_cells = 0;
    const std::size_t label_len = std::min<std::size_t>(c.label.size(), 20);
    const std::size_t label_start = (20 - label_len) / 2;
    for (std::size_t x = label_start; x < label_start + label_len; ++x)
      if (x < c.filled) ++label_cells;
    EXPECT_EQ(bar, c.filled - label_cells) << c.label;
  }
}

TEST(TokensPanel, RatioLeavesCacheTokensOut) {
  Session s;
  s.last_usage = TokenUsage{1000, 500, 190000, 150000};  // 1500 of 200000: one cell of 78
  const auto buf = tokens(s, 80);
  std::size_t bar = 0;
  for (std::uint16_t x = 1; x < 79; ++x)
    if (buf.at(x, 1).symbol == "█") {
      ++bar;
      EXPECT_EQ(buf.at(x, 1).fg, Color::Green);
    }
  EXPECT_EQ(bar, 1u);
}

TEST(TokensPanel, BarAndLabel) {
  Session s;
  s.last_usage = TokenUsage{150000, 40000, 0, 0};  // 0.95 of 58 cells: 55 filled
  const auto buf = tokens(s, 60);
  EXPECT_EQ(rows(buf)[1], "│████████last turn  in=150000 out=40000  cache_r=0██████   │");
  EXPECT_EQ(style_runs(buf, 1), (Runs{{"│"}, {"████████", Color::Red}, {"last turn  in=150000 out=40000  cache_r=0"},
                                      {"██████", Color::Red}, {"   │"}}));
}

TEST(TokensPanel, TotalsAndCost) {
  Session s;
  s.totals = TokenUsage{1000000, 100000, 2000000, 123456};
  const auto picture = rows(tokens(s, 62));
  EXPECT_EQ(picture[2], "│ session total  in=1000000  out=100000  cache_r=2000000     │");
  EXPECT_EQ(picture[3], "│ est. cost: $5.1000                                         │");
  EXPECT_EQ(picture[4], "╰────────────────────────────────────────────────────────────╯");
}

TEST(TokensPanel, CostIsRoundedToFourDigits) {
  const struct {
    TokenUsage totals;
    std::string line;
  } cases[] = {
      {{1, 0, 0, 0}, " est. cost: $0.0000"},       // 0.000003
      {{0, 10, 0, 0}, " est. cost: $0.0001"},      // 0.00015, which lies just under the tie as a double
      {{17, 0, 0, 0}, " est. cost: $0.0001"},      // 0.000051
      {{0, 0, 0, 999999999}, " est. cost: $0.0000"},  // cache creation is not priced
  };
  for (const auto& c : cases) {
    Session s;
    s.totals = c.totals;
    EXPECT_EQ(rows(tokens(s, 21))[3], "│" + c.line + "│") << c.line;
  }
}

}  // namespace
}  // namespace orvik::ui
