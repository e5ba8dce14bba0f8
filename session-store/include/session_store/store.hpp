#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "session_log/event.hpp"

namespace orvik::session_store {

using session_log::SessionEvent;
using session_log::Timestamp;
using session_log::TokenUsage;
using session_log::Uuid;

struct Running {
  Timestamp started_at;
  friend bool operator==(const Running&, const Running&) = default;
};
struct Ok {
  std::uint64_t duration_ms = 0;
  friend bool operator==(const Ok&, const Ok&) = default;
};
struct Error {
  std::uint64_t duration_ms = 0;
  friend bool operator==(const Error&, const Error&) = default;
};
using ToolStatus = std::variant<Running, Ok, Error>;

struct ToolCall {
  std::string id;
  std::string name;
  ToolStatus status;
  std::optional<Uuid> parent_id;
};

namespace step {
struct User {
  friend bool operator==(const User&, const User&) = default;
};
struct Thinking {
  friend bool operator==(const Thinking&, const Thinking&) = default;
};
struct Tools {
  std::vector<std::string> names;  // never empty
  friend bool operator==(const Tools&, const Tools&) = default;
};
struct Assistant {
  friend bool operator==(const Assistant&, const Assistant&) = default;
};
}  // namespace step
using Step = std::variant<step::User, step::Thinking, step::Tools, step::Assistant>;

// Whole milliseconds from `start` to `end`, the fraction dropped; 0 when `end` is not after `start`.
std::uint64_t elapsed_ms(Timestamp start, Timestamp end);

struct Session {
  std::optional<TokenUsage> last_usage;
  std::vector<ToolCall> tool_calls;  // finished calls, in the order they finished
  std::vector<Step> flow;
  std::unordered_map<std::string, ToolCall> pending;  // running calls by tool-use id
  TokenUsage totals;
  std::uint64_t event_count = 0;
  bool awaiting_reply = false;
  // What each model response has added to `totals`, so a response repeated on several lines counts once.
  std::unordered_map<std::string, TokenUsage> usage_by_message;

  // Counts the event, then applies the rule of its kind.
  void apply(const SessionEvent& event);
  // Appends `step` unless the last step equals it.
  void push_step(Step step);
  // Every pending call, in the map's order.
  std::vector<const ToolCall*> running_tools() const;
};

struct SessionStore {
  std::vector<Uuid> order;  // session ids in first-seen order
  std::unordered_map<Uuid, Session> sessions;

  static SessionStore make() { return {}; }
  // Finds or creates the event's session, then applies the event to it.
  void ingest(const SessionEvent& event);
  // The session whose first event was ingested last.
  const Session* latest() const;
  std::size_t session_count() const { return sessions.size(); }
};

}  // namespace orvik::session_store
