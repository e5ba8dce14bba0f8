#include "session_log/timestamp.hpp"

#include <chrono>
#include <cstdint>

namespace orvik::session_log {
namespace {

struct Cursor {
  std::string_view text;
  std::size_t pos = 0;

  bool take(std::string_view s) {
    if (!text.substr(pos).starts_with(s)) return false;
    pos += s.size();
    return true;
  }

  // Exactly `count` ASCII digits, read as one decimal number.
  std::optional<int> digits(std::size_t count) {
    if (text.size() - pos < count) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text[pos + i];
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    pos += count;
    return value;
  }

  std::optional<int> field(std::size_t count, int max) {
    auto value = digits(count);
    if (!value || *value > max) return std::nullopt;
    return value;
  }

  // One or more digits; the first nine give nanoseconds, the rest are read and dropped.
  std::optional<std::int64_t> fraction() {
    std::int64_t nanos = 0;
    std::size_t count = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++count) {
      if (count < 9) nanos = nanos * 10 + (text[pos] - '0');
    }
    if (count == 0) return std::nullopt;
    for (; count < 9; ++count) nanos *= 10;
    return nanos;
  }

  // Z or z, or a signed hh:mm below 24 hours, in seconds east of UTC.
  std::optional<int> offset() {
    if (take("Z") || take("z")) return 0;
    int sign = 0;
    if (take("+")) {
      sign = 1;
    } else if (take("-") || take("\u2212")) {
      sign = -1;
    } else {
      return std::nullopt;
    }
    const auto hours = field(2, 23);
    if (!hours || !take(":")) return std::nullopt;
    const auto minutes = field(2, 59);
    if (!minutes) return std::nullopt;
    return sign * (*hours * 3600 + *minutes * 60);
  }
};

}  // namespace

std::optional<Timestamp> parse_rfc3339(std::string_view text) {
  Cursor c{text};
  const auto year = c.digits(4);
  if (!year || !c.take("-")) return std::nullopt;
  const auto month = c.digits(2);
  if (!month || !c.take("-")) return std::nullopt;
  const auto day = c.digits(2);
  if (!day || !(c.take("T") || c.take("t") || c.take(" "))) return std::nullopt;
  const auto hour = c.field(2, 23);
  if (!hour || !c.take(":")) return std::nullopt;
  const auto minute = c.field(2, 59);
  if (!minute || !c.take(":")) return std::nullopt;
  const auto second = c.field(2, 60);
  if (!second) return std::nullopt;
  std::int64_t nanos = 0;
  if (c.take(".")) {
    const auto f = c.fraction();
    if (!f) return std::nullopt;
    nanos = *f;
  }
  const auto offset = c.offset();
  if (!offset || c.pos != text.size()) return std::nullopt;

  const std::chrono::year_month_day date{std::chrono::year{*year},
                                         std::chrono::month{static_cast<unsigned>(*month)},
                                         std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) return std::nullopt;

  // A leap second is accepted at any minute and held as second 59 plus a fraction of one second or
  // more, so it lands on the instant of the following second: 23:59:60.5 is 00:00:00.5 the next day.
  const std::int64_t seconds = std::chrono::sys_days{date}.time_since_epoch().count() * std::int64_t{86400} +
                               *hour * 3600 + *minute * 60 + *second - *offset;
  return Timestamp{std::chrono::seconds{seconds}} + std::chrono::nanoseconds{nanos};
}

}  // namespace orvik::session_log
