#pragma once

#include <cstdint>
#include <optional>
#include <set>
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

// The running calls by tool-use id, also kept in start order so that a panel can look at the newest
// starts alone, however many calls never finish.
class PendingCalls {
 public:
  using Map = std::unordered_map<std::string, ToolCall>;

  PendingCalls() = default;
  PendingCalls(const PendingCalls& other);
  PendingCalls& operator=(const PendingCalls& other);
  PendingCalls(PendingCalls&&) noexcept = default;  // map nodes stay where they are, so the order stays valid
  PendingCalls& operator=(PendingCalls&&) noexcept = default;

  bool empty() const { return calls_.empty(); }
  std::size_t size() const { return calls_.size(); }
  const ToolCall& at(const std::string& id) const { return calls_.at(id); }
  // In the map's order.
  Map::const_iterator begin() const { return calls_.begin(); }
  Map::const_iterator end() const { return calls_.end(); }

  // Stores `call`, whose status must be Running, under its id; a call pending under that id is dropped.
  void insert_or_assign(ToolCall call);
  // Takes out the call stored under `id`, if there is one.
  std::optional<ToolCall> take(const std::string& id);
  // Takes out every call, in the map's order.
  std::vector<ToolCall> take_all();

  // Calls `visit` with each call, latest start first (equal starts in no particular order), until it
  // returns false.
  template <class Visit>
  void newest_first(Visit&& visit) const {
    for (auto it = by_start_.rbegin(); it != by_start_.rend(); ++it)
      if (!visit(*it->second)) return;
  }

 private:
  Map calls_;
  std::set<std::pair<Timestamp, const ToolCall*>> by_start_;  // points into calls_, whose nodes never move
};

struct Session {
  std::optional<TokenUsage> last_usage;
  std::vector<ToolCall> tool_calls;  // finished calls, in the order they finished
  std::vector<Step> flow;
  PendingCalls pending;  // running calls by tool-use id
  TokenUsage totals;
  std::uint64_t event_count = 0;
  bool awaiting_reply = false;
  // What each model response has added to `totals`, so a response repeated on several lines counts once.
  std::unordered_map<std::string, TokenUsage> usage_by_message;

  // Counts the event, then applies the rule of its kind.
  void apply(const SessionEvent& event);
  // Appends `step` unless the last step equals it.
  void push_step(Step step);
  // Every pending call, in the map's order. The pointers go stale at the next ingest.
  std::vector<const ToolCall*> running_tools() const;
};

struct SessionStore {
  std::vector<Uuid> order;  // session ids in first-seen order
  std::unordered_map<Uuid, Session> sessions;

  static SessionStore make() { return {}; }
  // Finds or creates the event's session, then applies the event to it. A Heartbeat is only counted, like
  // any event, so it makes a session under its own id (the nil id, as the watcher sends it): drop it before.
  void ingest(const SessionEvent& event);
  // The session whose first event was ingested last.
  const Session* latest() const;
  std::size_t session_count() const { return sessions.size(); }
};

}  // namespace orvik::session_store
