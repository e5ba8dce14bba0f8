#include <gtest/gtest.h>

#include "fixtures.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {
namespace {

using namespace fixtures;
namespace step = session_store::step;

term::Buffer dashboard(const Session& s, std::uint16_t width, std::uint16_t height, std::uint64_t tick = 1) {
  return term::testing::draw_into(width, height, [&](term::Frame& f, term::Rect area) {
    draw_dashboard(f, area, s, tick, now);
  });
}

TEST(Dashboard, FourPanelsStacked) {
  Session s;
  s.event_count = 7;
  s.last_usage = TokenUsage{50000, 0, 0, 0};
  s.totals = TokenUsage{50000, 1200, 0, 0};
  add_running(s, "Bash", 3s);
  add_finished(s, "Read", 42);
  s.flow = {step::User{}, step::Thinking{}, step::Tools{{"Read"}}, step::Tools{{"Bash", "Grep"}}, step::Assistant{}};
  EXPECT_EQ(rows(dashboard(s, 46, 19)), (Rows{
      "╭ Session ───────────────────────────────────╮",
      "│ Live session   ● LIVE   7 events           │",
      "╰────────────────────────────────────────────╯",
      "╭ Tokens (last turn) ────────────────────────╮",
      "│████last turn  in=50000 out=0  cache_r=0    │",
      "│ session total  in=50000  out=1200  cache_r=│",
      "│ est. cost: $0.1680                         │",
      "╰────────────────────────────────────────────╯",
      "                                              ",
      "╭ Steps (newest first) ──────────────────────╮",
      "│⠙ Bash         [3.0s]                       │",
      "│✓ Read         42ms                         │",
      "│                                            │",
      "│                                            │",
      "│                                            │",
      "╰────────────────────────────────────────────╯",
      "╭ Flow ──────────────────────────────────────╮",
      "│USER → THINK → Read → [Bash ‖ Grep] → ASST  │",
      "╰────────────────────────────────────────────╯"}));
}

TEST(Dashboard, SessionLine) {
  Session s;
  s.event_count = 1;
  auto buf = dashboard(s, 40, 18);
  EXPECT_EQ(rows(buf)[1], "│ Live session   ○ idle   1 events     │");
  EXPECT_EQ(style_runs(buf, 1), (Runs{{"│"}, {" Live session", Color::Reset, true}, {"   ○ idle   1 events", Color::DarkGray},
                                      {"     │"}}));
  add_running(s, "Bash", 90s);  // long gone from the steps panel, still live
  buf = dashboard(s, 40, 18);
  EXPECT_EQ(rows(buf)[1], "│ Live session   ● LIVE   1 events     │");
  EXPECT_EQ(style_runs(buf, 1)[2], (StyleRun{"   ● LIVE", Color::Green}));
  EXPECT_EQ(rows(buf)[10], "│                                      │");
}

TEST(Dashboard, FlowWithoutStepsIsWaiting) {
  const auto buf = dashboard(Session{}, 30, 18);
  EXPECT_EQ(rows(buf)[16], "│waiting for events…         │");
  EXPECT_EQ(style_runs(buf, 16), (Runs{{"│"}, {"waiting for events…", Color::DarkGray}, {"         │"}}));
}

TEST(Dashboard, FlowShowsTheLastTwelveStepsOldestFirst) {
  Session s;
  for (int i = 1; i <= 15; ++i) s.flow.push_back(step::Tools{{std::to_string(i)}});
  const auto picture = rows(dashboard(s, 80, 18));
  EXPECT_EQ(picture[16], "│4 → 5 → 6 → 7 → 8 → 9 → 10 → 11 → 12 → 13 → 14 → 15" + std::string(27, ' ') + "│");
}

TEST(Dashboard, FlowNodeStylesAndCut) {
  Session s;
  s.flow = {step::User{}, step::Tools{{"Read", "Edit"}}, step::Thinking{}, step::Assistant{}};
  const auto buf = dashboard(s, 27, 18);
  EXPECT_EQ(rows(buf)[16], "│USER → [Read ‖ Edit] → TH│");  // the newest nodes are the first to go
  EXPECT_EQ(style_runs(buf, 16), (Runs{{"│"}, {"USER", Color::White, true}, {" → ", Color::DarkGray},
                                       {"[Read ‖ Edit]", Color::Green, true}, {" → ", Color::DarkGray},
                                       {"TH", Color::Yellow, true}, {"│"}}));
}

TEST(Dashboard, HugeNamesShowTheirStartUpToTheBorder) {
  Session s;
  std::vector<std::string> names;
  for (char c = 'a'; c < 'a' + 20; ++c) names.push_back(std::string(1'000'000, c));
  s.flow = {step::User{}, step::Tools{names}, step::Assistant{}};
  add_running(s, std::string(1'000'000, 'r'), 1s);
  add_finished(s, std::string(1'000'000, 'f'), 5);
  const auto picture = rows(dashboard(s, 30, 18));
  EXPECT_EQ(picture[10], "│⠙ " + std::string(26, 'r') + "│");
  EXPECT_EQ(picture[11], "│✓ " + std::string(26, 'f') + "│");
  EXPECT_EQ(picture[16], "│USER → [" + std::string(20, 'a') + "│");
  // Many short names: the join reads as if it were formed whole.
  s.flow = {step::Tools{std::vector<std::string>(100'000, "ab")}};
  EXPECT_EQ(rows(dashboard(s, 30, 18))[16], "│[ab ‖ ab ‖ ab ‖ ab ‖ ab ‖ ab│");
}

TEST(Dashboard, StepsPanelTakesTheRowsLeftOver) {
  Session s;
  for (std::uint64_t i = 0; i < 30; ++i) add_finished(s, "T" + std::to_string(i), i);
  const auto picture = rows(dashboard(s, 30, 30));
  EXPECT_EQ(picture[9], "╭ Steps (newest first) ──────╮");
  EXPECT_EQ(picture[10], "│✓ T29          29ms         │");
  EXPECT_EQ(picture[25], "│✓ T14          14ms         │");
  EXPECT_EQ(picture[26], "╰────────────────────────────╯");
  EXPECT_EQ(picture[27], "╭ Flow ──────────────────────╮");
}

TEST(Dashboard, SmallAreasStayInside) {
  Session s;
  s.awaiting_reply = true;
  add_running(s, "Bash", 1s);
  s.flow = {step::User{}};
  for (const auto& [w, h] : {std::pair{0, 0}, {1, 1}, {5, 3}, {20, 10}, {20, 17}, {120, 40}}) {
    auto buf = term::Buffer::empty({0, 0, 140, 50});
    term::Frame frame{buf};
    const term::Rect area{7, 3, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
    draw_dashboard(frame, area, s, 0, now);
    for (std::uint16_t y = 0; y < 50; ++y)
      for (std::uint16_t x = 0; x < 140; ++x)
        if (x < area.x || x >= area.right() || y < area.y || y >= area.bottom()) {
          ASSERT_EQ(buf.at(x, y), term::Cell{}) << w << "x" << h << " at " << x << "," << y;
        }
  }
}

}  // namespace
}  // namespace orvik::ui
