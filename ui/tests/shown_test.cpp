#include "../src/shown.hpp"

#include <gtest/gtest.h>

#include "session_log/json_text.hpp"
#include "term/testing.hpp"
#include "ui/events_panel.hpp"

namespace orvik::ui {
namespace {

std::string times(std::string_view piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// The cells that `first` then "|end" give in `width` columns, as the panels draw a row.
term::Buffer drawn(std::string_view first, std::uint16_t width) {
  auto buf = term::Buffer::empty({0, 0, static_cast<std::uint16_t>(width + 4), 1});
  term::set_line(buf, 0, 0, term::Line{{term::Span{std::string(first)}, term::Span{"|end"}}}, width);
  return buf;
}

TEST(ShownPrefix, DrawsAsTheWholeText) {
  const std::string texts[] = {
      times("x", 500),
      "e" + times("\u0301", 40) + "xyz" + times("\u0301", 7) + "w",  // marks piled on one base
      times("中文", 40),
      "a" + times("中", 40),
      times("👩\u200d💻", 20),
      times("🇯🇵", 20),
      times("⚠\ufe0f", 20),
      times("👍🏽", 20),
      times("\u1100\u1100\u1161a", 30),
      "\x01\x1b[31mred" + times("\r\n", 20),
      times("\xff\xfe", 30),
      times("\u200b\u200d", 30),
      "\u0301" + times("b", 30),
  };
  for (const auto& text : texts)
    for (std::uint16_t width = 0; width <= 16; ++width) {
      const auto prefix = shown_prefix(text, width);
      if (width <= 2) {
        EXPECT_LT(prefix.size(), text.size()) << text;  // each text has more clusters than that
      }
      EXPECT_EQ(drawn(prefix, width).cells, drawn(text, width).cells) << text << " in " << width;
    }
  std::size_t clusters = 0;
  EXPECT_EQ(shown_prefix("abc", 5, &clusters), "abc");
  EXPECT_EQ(clusters, 3u);
  EXPECT_EQ(shown_prefix("abcdefgh", 5, &clusters), "abcdef");
  EXPECT_EQ(clusters, 6u);
}

TEST(CompactJsonPreview, IsTheWholeTextCut) {
  nlohmann::json numbers = nlohmann::json::array();
  for (int i = 0; i <= 100000; ++i) numbers.push_back(i);
  const nlohmann::json values[] = {
      nlohmann::json{{"n", numbers}},
      numbers,
      nullptr,
      true,
      1.5e-7,
      -3,
      nlohmann::json::array(),
      nlohmann::json::object(),
      "",
      std::string(100, 'x'),
      std::string(58, 'x'),  // with its quotes exactly 60 characters
      std::string(59, 'x'),
      std::string(59, 'a') + times("\u3000", 5),  // white space where the cut falls
      times("\x01", 30),                           // escapes longer than what they stand for
      times("\"\\", 40),
      times("\xff", 80),
      times("é中👍", 30),
      nlohmann::json{{"k\n\"", {{"nested", {1, 2.5, nullptr, {{"deep", numbers}}}}}}},
      nlohmann::json{{std::string(70, 'k'), 1}},
  };
  for (const auto& value : values)
    for (const std::uint64_t max : std::initializer_list<std::uint64_t>{0, 1, 2, 7, 60}) {
      EXPECT_EQ(compact_json_preview(value, max), truncate_text(session_log::compact_json(value), max))
          << value.dump().substr(0, 80) << " " << max;
    }
}

}  // namespace
}  // namespace orvik::ui
