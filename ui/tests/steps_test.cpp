#include <gtest/gtest.h>

#include "fixtures.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {
namespace {

using namespace fixtures;

term::Buffer steps(const Session& s, std::uint16_t width, std::uint16_t height, std::uint64_t tick = 0) {
  return term::testing::draw_into(width, height, [&](term::Frame& f, term::Rect area) {
    draw_steps_panel(f, area, s, tick, now);
  });
}

TEST(StepsPanel, ThinkingThenRunningLatestFirstThenFinishedNewestFirst) {
  Session s;
  s.awaiting_reply = true;
  add_running(s, "Read", 2500ms);
  add_running(s, "Bash", 1234ms);
  for (std::uint64_t i = 0; i < 10; ++i) add_finished(s, "Tool" + std::to_string(i), 100 + i, i == 8);
  EXPECT_EQ(rows(steps(s, 40, 7)), (Rows{
      "╭ Steps (newest first) ────────────────╮",
      "│⠋ Thinking…                           │",
      "│⠋ Bash         [1.2s]                 │",
      "│⠋ Read         [2.5s]                 │",
      "│✓ Tool9        109ms                  │",
      "│✗ Tool8        108ms                  │",
      "╰──────────────────────────────────────╯"}));
}

TEST(StepsPanel, RowStyles) {
  Session s;
  s.awaiting_reply = true;
  add_running(s, "Bash", 1s);
  add_finished(s, "Edit", 7, true);
  add_finished(s, "Read", 5);
  const auto buf = steps(s, 30, 6);
  EXPECT_EQ(style_runs(buf, 1), (Runs{{"│"}, {"⠋ Thinking…   ", Color::Yellow, true}, {"              │"}}));
  EXPECT_EQ(style_runs(buf, 2), (Runs{{"│"}, {"⠋ ", Color::Yellow, true}, {"Bash        ", Color::Green, true},
                                      {" [1.0s]", Color::DarkGray}, {"       │"}}));
  EXPECT_EQ(style_runs(buf, 3), (Runs{{"│"}, {"✓ ", Color::Cyan}, {"Read         5ms", Color::DarkGray}, {"          │"}}));
  EXPECT_EQ(style_runs(buf, 4), (Runs{{"│"}, {"✗ ", Color::Red}, {"Edit         7ms", Color::DarkGray}, {"          │"}}));
}

TEST(StepsPanel, RowBudgetIsTheInnerHeight) {
  Session s;
  s.awaiting_reply = true;
  add_running(s, "Bash", 1s);
  add_finished(s, "Read", 5);
  const struct {
    std::uint16_t height;
    Rows expected;
  } cases[] = {
      {0, {}},
      {1, {"╭ Steps (newest first) ─╮"}},
      {2, {"╭ Steps (newest first) ─╮", "╰───────────────────────╯"}},
      {3, {"╭ Steps (newest first) ─╮", "│⠋ Thinking…            │", "╰───────────────────────╯"}},
      {6, {"╭ Steps (newest first) ─╮", "│⠋ Thinking…            │", "│⠋ Bash         [1.0s]  │",
           "│✓ Read         5ms     │", "│                       │", "╰───────────────────────╯"}},
  };
  for (const auto& c : cases) EXPECT_EQ(rows(steps(s, 25, c.height)), c.expected) << c.height;
}

TEST(StepsPanel, EmptySessionIsAnEmptyBox) {
  EXPECT_EQ(rows(steps(Session{}, 24, 3)), (Rows{"╭ Steps (newest first) ╮", "│                      │", "╰──────────────────────╯"}));
}

TEST(StepsPanel, SpinnerTurnsWithTheTick) {
  Session s;
  s.awaiting_reply = true;
  add_running(s, "Bash", 0ms);
  const struct {
    std::uint64_t tick;
    std::string frame;
  } cases[] = {{0, "⠋"}, {1, "⠙"}, {10, "⠋"}, {13, "⠸"}, {UINT64_MAX, "⠴"}};
  for (const auto& c : cases) {
    const auto buf = steps(s, 30, 4, c.tick);
    EXPECT_EQ(buf.at(1, 1).symbol, c.frame) << c.tick;  // the Thinking row
    EXPECT_EQ(buf.at(1, 2).symbol, c.frame) << c.tick;  // and the running call share the frame
  }
}

TEST(StepsPanel, RunningWindowAndElapsedText) {
  const struct {
    std::chrono::nanoseconds ago;
    std::string row;  // empty: not listed
  } cases[] = {
      {250ms, "│⠋ Bash         [0.2s] │"},  // ties go to the even digit
      {750ms, "│⠋ Bash         [0.8s] │"},
      {1234ms, "│⠋ Bash         [1.2s] │"},
      {30950ms, "│⠋ Bash         [30.9s]│"},
      {30951ms, "│⠋ Bash         [31.0s]│"},
      {30999999999ns, "│⠋ Bash         [31.0s]│"},  // 30 whole seconds: still listed
      {31s, ""},
      {-5s, "│⠋ Bash         [0.0s] │"},  // a log clock ahead of ours
      {-400ms, "│⠋ Bash         [0.0s] │"},
  };
  for (const auto& c : cases) {
    Session s;
    add_running(s, "Bash", c.ago);
    const auto picture = rows(steps(s, 24, 3));
    EXPECT_EQ(picture[1], c.row.empty() ? "│                      │" : c.row) << c.ago.count();
  }
}

TEST(StepsPanel, NamesArePaddedByCodePointsAndNeverCut) {
  const struct {
    std::string name;
    std::string row;
  } cases[] = {
      {"Read", "│✓ Read         1ms             │"},
      {"mcp__server__fetch_1", "│✓ mcp__server__fetch_1 1ms     │"},
      {"äöü", "│✓ äöü          1ms             │"},
      {"漢字", "│✓ 漢字           1ms           │"},  // two characters, four cells: padded by characters
      {"a\x1b[31mb\nc", "│✓ a␛[31mb␊c    1ms             │"},  // drawn harmless, on its own row
  };
  for (const auto& c : cases) {
    Session s;
    add_finished(s, c.name, 1);
    add_finished(s, "x", 2);
    const auto picture = rows(steps(s, 33, 4));
    EXPECT_EQ(picture[2], c.row) << c.name;
    EXPECT_EQ(picture[1], "│✓ x            2ms             │") << c.name;  // the next row is not disturbed
  }
}

TEST(StepsPanel, WideTextIsCutCleanlyAtTheBorder) {
  Session s;
  add_finished(s, "漢字漢字漢字漢字漢", 1);  // 18 cells after the mark, where 17 are free
  const auto buf = steps(s, 21, 3);
  EXPECT_EQ(rows(buf)[1], "│✓ 漢字漢字漢字漢字 │");
  EXPECT_EQ(buf.at(18, 1).symbol, "");   // the last whole character's second cell
  EXPECT_EQ(buf.at(19, 1).symbol, " ");  // the free cell stays blank: no half character, no " 1ms"
  EXPECT_EQ(buf.at(20, 1).symbol, "│");
}

TEST(RecentRunningTools, StartsCenturiesAwayFromTheClock) {
  // A log may carry any instant the clock type holds; the difference must not overflow.
  const ToolCall calls[] = {ToolCall{"a", "a", session_store::Running{Timestamp::min()}, std::nullopt},
                            ToolCall{"b", "b", session_store::Running{Timestamp::max()}, std::nullopt}};
  const auto kept = recent_running_tools({&calls[0], &calls[1]}, now);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0]->name, "b");
  Session s;
  s.pending.insert_or_assign(calls[1]);
  EXPECT_EQ(rows(steps(s, 24, 3))[1], "│⠋ b            [0.0s] │");
}

TEST(RecentRunningTools, FiltersInPlaceKeepingTheOrder) {
  const ToolCall calls[] = {running("a", 31s), running("b", 1s), running("c", 30s), running("d", -1s),
                            ToolCall{"e", "e", session_store::Ok{5}, std::nullopt}, running("f", 40s)};
  std::vector<const ToolCall*> list;
  for (const auto& c : calls) list.push_back(&c);
  const auto* storage = list.data();
  const auto kept = recent_running_tools(std::move(list), now);
  EXPECT_EQ(kept.data(), storage);
  std::string names;
  for (const auto* c : kept) names += c->name;
  EXPECT_EQ(names, "bcd");
}

}  // namespace
}  // namespace orvik::ui
