#include "ui/events_panel.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "fixtures.hpp"

namespace orvik::ui {
namespace {

using namespace session_log;
using namespace std::chrono_literals;
using fixtures::detail_of;
using fixtures::event_of;
using term::Color;

TEST(EventRow, SpansAndStyles) {
  const auto row = event_row(event_of(ToolUse{"t", "Bash", {{"command", "ls -la"}, {"description", "List files"}}},
                                      Uuid::nil(), true),
                             10);
  ASSERT_EQ(row.spans.size(), 3u);
  EXPECT_EQ(row.spans[0].content, "12:34:56 ");
  EXPECT_EQ(row.spans[0].style, term::Style::with_fg(Color::DarkGray));
  EXPECT_EQ(row.spans[1].content, "[S] TOOL▶ ");
  EXPECT_EQ(row.spans[1].style, term::Style::with_fg(Color::Green, true));
  EXPECT_EQ(row.spans[2].content, "Bash ls -la");
  EXPECT_EQ(row.spans[2].style, term::Style{});

  const struct {
    EventKind kind;
    std::string_view label;
    Color color;
  } kinds[] = {
      {ToolResult{"t", "out", std::nullopt, false}, "TOOL◀ ", Color::Blue},
      {Assistant{std::nullopt, "a", std::nullopt}, "ASST  ", Color::Magenta},
      {User{"u"}, "USER  ", Color::White},
      {Thinking{"t", std::nullopt}, "THINK ", Color::Yellow},
  };
  for (const auto& k : kinds) {
    const auto r = event_row(event_of(k.kind), 10);
    EXPECT_EQ(r.spans[1].content, k.label);
    EXPECT_EQ(r.spans[1].style, term::Style::with_fg(k.color, true)) << k.label;
  }
}

TEST(EventRow, TimeIsUtcWhateverTheZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "Asia/Kolkata", 1);
  ::tzset();
  // 2025-01-01T10:00:00+02:00
  const Timestamp at = std::chrono::sys_days{std::chrono::year{2025} / 1 / 1} + 10h - 2h;
  EXPECT_EQ(event_row(event_of(User{"x"}, Uuid::nil(), false, at), 10).spans[0].content, "08:00:00 ");
  EXPECT_EQ(event_row(event_of(User{"x"}, Uuid::nil(), false, at - 8h - 1s), 10).spans[0].content, "23:59:59 ");
  // 0000-01-01T00:00:01 and 9999-12-31T23:59:59.999999999, far outside a nanosecond count's span.
  const Timestamp first = Timestamp{} - 62167219200s + 1s, last = Timestamp{} + 253402300799s + 999999999ns;
  EXPECT_EQ(event_row(event_of(User{"x"}, Uuid::nil(), false, first), 10).spans[0].content, "00:00:01 ");
  EXPECT_EQ(event_row(event_of(User{"x"}, Uuid::nil(), false, last), 10).spans[0].content, "23:59:59 ");
  if (old)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(EventRow, ArgumentPreview) {
  const std::string hundred(100, 'x');
  const struct {
    nlohmann::json input;
    std::string expected;
  } cases[] = {
      {{{"command", "ls -la"}, {"description", "List files"}}, "ls -la"},
      {{{"limit", 5}, {"path", "/tmp/a"}}, "/tmp/a"},
      {{{"a", "lower"}, {"Z", "upper"}}, "upper"},  // byte order: Z before a
      {{{"n", 5}}, R"({"n":5})"},
      {nullptr, "null"},
      {"just text", R"("just text")"},
      {{{"s", hundred}}, std::string(60, 'x') + "…"},
      {{{"s", "  padded\t"}}, "padded"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(detail_of(event_row(event_of(ToolUse{"t", "T", c.input}), 0)), "T " + c.expected) << c.input.dump();
}

TEST(TruncateText, TrimsWhiteSpaceAndCountsCodePoints) {
  const struct {
    std::string_view text;
    std::uint64_t max;
    std::string_view expected;
  } cases[] = {
      {"hello", 5, "hello"},
      {"hello!", 5, "hello…"},
      {"", 0, ""},
      {" \t\n ", 0, ""},
      {"x", 0, "…"},
      {"ééééé", 3, "ééé…"},         // characters, not bytes
      {"中文字", 2, "中文…"},        // characters, not columns
      {"\u3000\u00a0 mid dle\u2029\u0085\u205f", 20, "mid dle"},
      {"\u200bword", 20, "\u200bword"},  // a zero-width space is not White_Space
      {"\x0b\x0c\r\u1680\u2000\u200a\u2028\u202fx", 5, "x"},
      {"\xff\xfe", 1, "\xff…"},  // a stray byte counts as one character
  };
  for (const auto& c : cases)
    EXPECT_EQ(truncate_text(c.text, c.max), c.expected) << testing::PrintToString(std::string(c.text)) << " " << c.max;
}

}  // namespace
}  // namespace orvik::ui
