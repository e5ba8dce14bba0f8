#pragma once

#include <expected>
#include <string_view>
#include <vector>

#include "session_log/event.hpp"

namespace orvik::session_log {

// Turns one trimmed, non-empty log line into its events, in sending order, or a ParseError when the
// line does not read as a record. Keeps no state.
// The line must be valid UTF-8 (the watcher checks it first); its texts are taken as they are.
std::expected<std::vector<SessionEvent>, ParseError> parse_line(std::string_view line);

}  // namespace orvik::session_log
