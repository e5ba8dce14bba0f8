#include "session_log/event.hpp"

#include <gtest/gtest.h>

namespace orvik::session_log {
namespace {

TEST(ParseError, TextForm) {
  EXPECT_EQ(display_parse_error(InvalidField{"line", "trailing comma at line 1 column 16"}),
            "invalid field 'line': trailing comma at line 1 column 16");
  EXPECT_EQ(display_parse_error(InvalidField{"line", ""}), "invalid field 'line': ");
}

TEST(Heartbeat, IsFilledAsAHeartbeat) {
  const auto before = now_utc();
  const auto a = make_heartbeat();
  const auto b = make_heartbeat();
  EXPECT_TRUE(is_heartbeat(a));
  EXPECT_TRUE(a.session_id.is_nil());
  EXPECT_FALSE(a.parent_id);
  EXPECT_FALSE(a.is_sidechain);
  EXPECT_NE(a.id, b.id);
  EXPECT_GE(a.timestamp, before);
  EXPECT_LE(a.timestamp, now_utc());
}

}  // namespace
}  // namespace orvik::session_log
