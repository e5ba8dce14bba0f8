#pragma once

#include <optional>
#include <string_view>

#include "session_log/event.hpp"

namespace orvik::session_log {

// Reads an RFC 3339 date-time ("2025-09-14T10:00:00.5+02:00") and gives the same instant in UTC.
// Gives none for any other text, for a date that is not in the calendar, and for an instant that a
// Timestamp cannot hold (before 1677 or after 2262).
std::optional<Timestamp> parse_rfc3339(std::string_view text);

}  // namespace orvik::session_log
