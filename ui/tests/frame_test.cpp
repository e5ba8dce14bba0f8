#include "ui/tui.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "fixtures.hpp"
#include "term/testing.hpp"

namespace orvik::ui {
namespace {

using namespace session_log;
using namespace std::chrono_literals;
using term::Color;
using term::testing::StyleRun;
using term::testing::rows;
using fixtures::detail_of;
using fixtures::event_of;
using term::testing::styled_runs;

term::Buffer draw(const App& app, std::uint16_t width, std::uint16_t height) {
  const auto now = now_utc();
  return term::testing::draw_into(width, height, [&](term::Frame& f, term::Rect) { draw_frame(f, app, now); });
}

// The first `columns` cells of each row, as text.
std::vector<std::string> left_columns(const term::Buffer& buf, std::uint16_t columns) {
  auto part = term::Buffer::empty(term::Rect{0, 0, columns, buf.area.height});
  for (std::uint16_t y = 0; y < buf.area.height; ++y)
    for (std::uint16_t x = 0; x < columns; ++x) part.at(x, y) = buf.at(x, y);
  return rows(part);
}

TEST(DrawFrame, NoEventsYet) {
  App app;
  const auto buf = draw(app, 60, 6);
  EXPECT_EQ(rows(buf), (std::vector<std::string>{
                           " Orvik   0 sessions   0 events                              ",
                           "╭ Events (newest first) ─────╮╭ Dashboard ─────────────────╮",
                           "│                            ││Waiting for session events… │",
                           "│                            ││                            │",
                           "╰────────────────────────────╯╰────────────────────────────╯",
                           " q quit                                                     ",
                       }));
  EXPECT_EQ(styled_runs(buf, 0), (std::vector<StyleRun>{{std::string(" Orvik   0 sessions   0 events ") +
                                                             std::string(29, ' '),
                                                         Color::Cyan, true}}));
  EXPECT_EQ(styled_runs(buf, 2), (std::vector<StyleRun>{{"│Waiting for session events… │", Color::DarkGray, false}}));
  const auto footer = styled_runs(buf, 5);
  EXPECT_EQ(footer, (std::vector<StyleRun>{{" q", Color::Yellow, false}}));
}

TEST(DrawFrame, PlaceholderIsDarkGrayAllOver) {
  App app;
  const auto buf = draw(app, 40, 5);
  for (std::uint16_t y = 1; y < 4; ++y)
    for (std::uint16_t x = 20; x < 40; ++x) EXPECT_EQ(buf.at(x, y).fg, Color::DarkGray) << x << "," << y;
  EXPECT_EQ(buf.at(0, 1).fg, Color::Reset);  // the events box keeps the default style
}

TEST(DrawFrame, HeaderCountsSessionsSeenAndEventsHeld) {
  App app;
  push_event(app, event_of(User{"hello"}, Uuid::new_v4()));
  const auto one = rows(draw(app, 60, 6));
  EXPECT_EQ(one[0].substr(0, 31), " Orvik   1 sessions   1 events ");
  EXPECT_EQ(one[1], "╭ Events (newest first) ─────╮╭ Session ───────────────────╮");  // not the placeholder  // the dashboard, not the placeholder
  const Uuid sessions[] = {Uuid::new_v4(), Uuid::new_v4()};
  for (int i = 0; i < 600; ++i) push_event(app, event_of(User{std::to_string(i)}, sessions[i % 2]));
  EXPECT_EQ(rows(draw(app, 60, 6))[0].substr(0, 33), " Orvik   3 sessions   500 events ");
}

TEST(DrawFrame, NewestEventsFirstAsManyAsFit) {
  App app;
  for (int i = 0; i < 500; ++i) push_event(app, event_of(User{fmt::format("m{}", i)}, Uuid::nil()));
  const auto buf = draw(app, 60, 8);
  const auto left = left_columns(buf, 30);
  EXPECT_EQ(left[2], "│12:34:56 USER  m499         │");
  EXPECT_EQ(left[5], "│12:34:56 USER  m496         │");
  EXPECT_EQ(left[6], "╰────────────────────────────╯");
  EXPECT_EQ(collect_event_rows(app.events, 6, 8).size(), 6u);
  EXPECT_EQ(detail_of(collect_event_rows(app.events, 6, 8).front().line), "m499");
}

TEST(DrawFrame, NarrowLeftHalfLeavesOnlyTheMarkButKeepsToolUses) {
  App app;
  push_event(app, event_of(Assistant{std::nullopt, "some reply", std::nullopt}));
  push_event(app, event_of(User{"  \n "}));
  push_event(app, event_of(ToolUse{"t1", "Read", {{"file_path", "/etc/hosts"}}}));
  const auto left = left_columns(draw(app, 44, 7), 22);  // 22 columns: no budget at all
  EXPECT_EQ(left[1], "╭ Events (newest firs╮");
  EXPECT_EQ(left[2], "│12:34:56 TOOL▶ Read │");
  EXPECT_EQ(left[3], "│12:34:56 USER       │");
  EXPECT_EQ(left[4], "│12:34:56 ASST  …    │");
}

TEST(DrawFrame, SixtyColumnsGiveABudgetOfThirtyEight) {
  App app;
  const std::string fits(38, 'a');
  push_event(app, event_of(Assistant{std::nullopt, fits + "b", std::nullopt}));
  push_event(app, event_of(Assistant{std::nullopt, "\n\n  " + fits + "\n", std::nullopt}));
  const auto left = left_columns(draw(app, 120, 6), 60);
  EXPECT_EQ(left[2], "│12:34:56 ASST  " + fits + "     │");
  EXPECT_EQ(left[3], "│12:34:56 ASST  " + fits + "…    │");
  // Even on a side-chain row the mark stays inside the box.
  const auto side = event_row(event_of(Assistant{std::nullopt, fits + "b", std::nullopt}, Uuid::nil(), true), 38);
  EXPECT_EQ(side.width(), 58u);  // 9 + 10 + 39: the box's inner width
}

TEST(DrawFrame, HugeToolUsesShowTheirStartUpToTheBorder) {
  App app;
  nlohmann::json numbers = nlohmann::json::array();
  for (int i = 0; i <= 1'000'000; ++i) numbers.push_back(i);
  push_event(app, event_of(ToolUse{"t1", "Read", {{"n", std::move(numbers)}}}));
  push_event(app, event_of(ToolUse{"t2", std::string(5'000'000, 'x') + "end", {{"path", "/tmp/a"}}}));
  push_event(app, event_of(ToolUse{"t3", std::string(28, 'y'), {{"path", "/tmp/a"}}}, Uuid::nil(), true));
  push_event(app, event_of(ToolUse{"t4", std::string(33, 'z'), {{"path", "/tmp/a"}}}));
  const auto left = left_columns(draw(app, 100, 8), 50);  // 33 columns for a detail
  EXPECT_EQ(left[2], "│12:34:56 TOOL▶ " + std::string(33, 'z') + "│");
  EXPECT_EQ(left[3], "│12:34:56 [S] TOOL▶ " + std::string(28, 'y') + " │");
  EXPECT_EQ(left[4], "│12:34:56 TOOL▶ " + std::string(33, 'x') + "│");
  EXPECT_EQ(left[5], R"(│12:34:56 TOOL▶ Read {"n":[0,1,2,3,4,5,6,7,8,9,10│)");
}

TEST(DrawFrame, NarrowAndShortScreens) {
  App app;
  const auto narrow = rows(draw(app, 20, 3));
  EXPECT_EQ(narrow[0], " Orvik   0 sessions ");
  EXPECT_EQ(narrow[2], " q quit             ");
  const auto two = rows(draw(app, 20, 2));
  EXPECT_EQ(two[0], " Orvik   0 sessions ");
  EXPECT_EQ(two[1], " q quit             ");
  EXPECT_NO_FATAL_FAILURE(draw(app, 0, 0));
  EXPECT_NO_FATAL_FAILURE(draw(app, 1, 1));
}

}  // namespace
}  // namespace orvik::ui
