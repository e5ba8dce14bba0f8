#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "session_log/uuid.hpp"

namespace orvik::session_log {

// A UTC instant, exact to the nanosecond over the years 0000 to 9999 (a 64-bit count of nanoseconds
// spans only 1677 to 2262). It is a system-clock time point, so the usual chrono arithmetic applies.
__extension__ using TimestampRep = __int128;
using Timestamp = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<TimestampRep, std::nano>>;

// The current time of the real-time clock.
Timestamp now_utc();

struct TokenUsage {
  std::uint64_t input = 0;
  std::uint64_t output = 0;
  std::uint64_t cache_read = 0;
  std::uint64_t cache_creation = 0;

  friend bool operator==(const TokenUsage&, const TokenUsage&) = default;
};

// The details of a tool run that a user record may carry beside its tool results.
struct ToolUseResultInfo {
  std::optional<std::string> stdout_text;
  std::optional<std::string> stderr_text;
  std::optional<std::string> file_path;
  bool interrupted = false;
  bool is_image = false;

  friend bool operator==(const ToolUseResultInfo&, const ToolUseResultInfo&) = default;
};

struct ToolUse {
  std::string tool_use_id;
  std::string name;
  nlohmann::json input;
};

struct ToolResult {
  std::string tool_use_id;
  std::string content;
  std::optional<ToolUseResultInfo> tool_use_result;
  bool is_error = false;
};

struct Assistant {
  std::optional<TokenUsage> usage;
  std::string text;
  // The id of the model response; the agent repeats one response's usage on each of its lines.
  std::optional<std::string> message_id;
};

struct User {
  std::string text;
};

struct Thinking {
  std::string thinking;
  std::optional<std::string> signature;
};

struct Heartbeat {};

using EventKind = std::variant<ToolUse, ToolResult, Assistant, User, Thinking, Heartbeat>;

struct SessionEvent {
  EventKind kind;
  Uuid id;
  Uuid session_id;
  Timestamp timestamp;
  std::optional<Uuid> parent_id;
  bool is_sidechain = false;
};

// A fresh id, the nil session, the current time, no parent, not a side chain.
SessionEvent make_heartbeat();

bool is_heartbeat(const SessionEvent& event);

struct InvalidField {
  std::string field;
  std::string message;
};

using ParseError = std::variant<InvalidField>;

// "invalid field '{field}': {message}"
std::string display_parse_error(const ParseError& error);

}  // namespace orvik::session_log
