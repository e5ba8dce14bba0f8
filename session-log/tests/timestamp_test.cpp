#include "session_log/timestamp.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace orvik::session_log {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

Timestamp at(year_month_day date, nanoseconds time_of_day) { return Timestamp{sys_days{date}} + time_of_day; }

TEST(ParseRfc3339, AcceptsTheFormsAndConvertsToUtc) {
  const auto d = 2025y / September / 14;
  const struct {
    std::string_view text;
    Timestamp expected;
  } cases[] = {
      {"2025-09-14T10:00:00Z", at(d, 10h)},
      {"2025-09-14t10:00:00z", at(d, 10h)},
      {"2025-09-14 10:00:00Z", at(d, 10h)},
      {"2025-09-14T10:00:00+02:00", at(d, 8h)},
      {"2025-09-14T10:00:00-02:30", at(d, 12h + 30min)},
      {"2025-09-14T10:00:00\u221202:30", at(d, 12h + 30min)},
      {"2025-09-14T10:00:00-00:00", at(d, 10h)},
      {"2025-09-14T10:00:00+23:59", at(d, 10h) - 23h - 59min},
      {"2025-09-14T10:00:00-23:59", at(d, 10h) + 23h + 59min},
      {"2025-09-14T00:30:00+01:00", at(2025y / September / 13, 23h + 30min)},
      {"2025-09-14T10:00:00.5Z", at(d, 10h + 500ms)},
      {"2025-09-14T10:00:00.123456789Z", at(d, 10h + 123456789ns)},
      {"2025-09-14T10:00:00.1234567899999Z", at(d, 10h + 123456789ns)},
      {"2025-09-14T10:00:00.000000001Z", at(d, 10h + 1ns)},
      {"2024-02-29T00:00:00Z", at(2024y / February / 29, 0h)},
      {"2000-02-29T23:59:59Z", at(2000y / February / 29, 23h + 59min + 59s)},
      // A leap second lands on the instant of the following second.
      {"2016-12-31T23:59:60Z", at(2017y / January / 1, 0h)},
      {"2016-12-31T23:59:60.25Z", at(2017y / January / 1, 250ms)},
      {"2025-09-14T10:00:60+02:00", at(d, 8h + 1min)},
      {"1970-01-01T00:00:00Z", Timestamp{}},
  };
  for (const auto& c : cases) {
    const auto got = parse_rfc3339(c.text);
    ASSERT_TRUE(got.has_value()) << c.text;
    EXPECT_EQ(*got, c.expected) << c.text;
  }
}

TEST(ParseRfc3339, RejectsEverythingElse) {
  const std::string_view cases[] = {
      "",
      "2025-09-14T10:00:00",          // no offset
      "2025-09-14T10:00:00Z ",        // a blank after
      " 2025-09-14T10:00:00Z",        // a blank before
      "2025-09-14T10:00:00+02:00x",   // anything after the offset
      "2025-02-30T10:00:00Z",         // February 30
      "2025-02-29T10:00:00Z",         // not a leap year
      "1900-02-29T10:00:00Z",         // nor is 1900
      "2025-04-31T10:00:00Z",
      "2025-00-14T10:00:00Z",
      "2025-13-14T10:00:00Z",
      "2025-09-00T10:00:00Z",
      "2025-09-14T24:00:00Z",
      "2025-09-14T10:60:00Z",
      "2025-09-14T10:00:61Z",
      "2025-09-14T10:00:00+24:00",    // a whole day of offset
      "2025-09-14T10:00:00-24:00",
      "2025-09-14T10:00:00+02:60",
      "2025-09-14T10:00:00+0200",     // the colon is required
      "2025-09-14T10:00:00+02",       // so are the minutes
      "2025-09-14T10:00:00+2:00",
      "2025-09-14T10:00:00 Z",
      "2025-09-14T10:00:00.Z",        // a full stop needs digits
      "2025-09-14T10:00:00,5Z",
      "2025-09-14T10:00Z",            // seconds are required
      "2025-09-14T10:00:00UTC",
      "2025-09-14  10:00:00Z",        // one blank only
      "2025-09-14_10:00:00Z",
      "2025-09-14",
      "25-09-14T10:00:00Z",
      "+2025-09-14T10:00:00Z",
      "2025-9-14T10:00:00Z",
      "2025-09-14T1:00:00Z",
      "2025/09/14T10:00:00Z",
      "\uff12025-09-14T10:00:00Z",    // a full-width digit
      "2025-09-14T10:00:00\u221202",  // U+2212 still needs the minutes
      "2025-09-14T10:00:00\xe2\x88",  // a cut U+2212
      "2025-09-14T10:00:00\u2013" "02:00",  // an en dash is no sign
  };
  for (const auto text : cases) EXPECT_FALSE(parse_rfc3339(text).has_value()) << text;
}

// Every four-digit year is held to the nanosecond, also where a 64-bit count of nanoseconds ends.
TEST(ParseRfc3339, HoldsEveryFourDigitYearExactly) {
  const struct {
    std::string_view text;
    Timestamp expected;
  } cases[] = {
      {"0000-01-01T00:00:00Z", Timestamp{} - 62167219200s},
      {"0000-01-01T00:00:00.000000001+23:59", Timestamp{} - 62167219200s - 23h - 59min + 1ns},
      {"0000-02-29T12:00:00Z", at(year{0} / February / 29, 12h)},
      {"1600-01-01T00:00:00Z", at(1600y / January / 1, 0h)},
      {"1677-09-21T00:12:43.145224191Z", Timestamp{nanoseconds::min()} - 1ns},
      {"1969-12-31T23:59:59.75Z", Timestamp{-250ms}},
      {"2262-04-11T23:47:16.854775808Z", Timestamp{nanoseconds::max()} + 1ns},
      {"2262-04-12T00:00:00Z", at(2262y / April / 12, 0h)},
      {"9999-12-31T23:59:59.999999999Z", Timestamp{} + 253402300799s + 999999999ns},
      {"9999-12-31T23:59:60Z", Timestamp{} + 253402300800s},
      {"9999-12-31T23:59:59-23:59", Timestamp{} + 253402300799s + 23h + 59min},
  };
  for (const auto& c : cases) {
    const auto got = parse_rfc3339(c.text);
    ASSERT_TRUE(got.has_value()) << c.text;
    EXPECT_EQ(*got, c.expected) << c.text;
  }
  EXPECT_FALSE(parse_rfc3339("0001-02-29T00:00:00Z").has_value());
  EXPECT_FALSE(parse_rfc3339("10000-01-01T00:00:00Z").has_value());
}

}  // namespace
}  // namespace orvik::session_log
