#include "session_log/event.hpp"

#include <fmt/format.h>

#include "messages.hpp"

namespace orvik::session_log {

Timestamp now_utc() {
  return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

SessionEvent make_heartbeat() {
  return SessionEvent{
      .kind = Heartbeat{},
      .id = Uuid::new_v4(),
      .session_id = Uuid::nil(),
      .timestamp = now_utc(),
      .parent_id = std::nullopt,
      .is_sidechain = false,
  };
}

bool is_heartbeat(const SessionEvent& event) { return std::holds_alternative<Heartbeat>(event.kind); }

std::string display_parse_error(const ParseError& error) {
  const auto& invalid = std::get<InvalidField>(error);
  return fmt::format(msg::invalid_field, invalid.field, invalid.message);
}

}  // namespace orvik::session_log
