#include "session_log/json_text.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace orvik::session_log {
namespace {

TEST(CompactJson, WritesValuesTheWayTheLogsWriteThem) {
  using nlohmann::json;
  const struct {
    json value;
    std::string_view text;
  } cases[] = {
      {nullptr, "null"},
      {true, "true"},
      {json(42u), "42"},
      {json(-5), "-5"},
      {json(1000.0), "1000.0"},
      {json(-0.0), "-0.0"},
      {json(1.5), "1.5"},
      {json(0.00001), "0.00001"},
      {json(1e-6), "1e-6"},
      {json(1.5e-7), "1.5e-7"},
      {json(1e16), "1e16"},
      {json(1e15), "1000000000000000.0"},
      {json(18446744073709551616.0), "1.8446744073709552e19"},
      {json("a\"b\\c\n\t\x01\x7f/é"), R"("a\"b\\c\n\t\u0001)" "\x7f/é\""},
      {json("a\xff\xc3"), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {json::parse(R"({"b":1,"a":[1,2.5,{"Z":null,"a":"x"}],"":{}})"), R"({"":{},"a":[1,2.5,{"Z":null,"a":"x"}],"b":1})"},
      {json::array(), "[]"},
      {json::array({std::nan(""), HUGE_VAL, -HUGE_VAL}), "[null,null,null]"},
  };
  for (const auto& c : cases) EXPECT_EQ(compact_json(c.value), c.text) << c.value.dump();
}

}  // namespace
}  // namespace orvik::session_log
