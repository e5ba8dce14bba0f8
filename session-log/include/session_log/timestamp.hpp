#pragma once

#include <optional>
#include <string_view>

#include "session_log/event.hpp"

namespace orvik::session_log {

// Reads an RFC 3339 date-time ("2025-09-14T10:00:00.5+02:00") and gives the same instant in UTC.
// Any four-digit year is held exactly. Gives none for any other text and for a date that is not in
// the calendar.
std::optional<Timestamp> parse_rfc3339(std::string_view text);

}  // namespace orvik::session_log
