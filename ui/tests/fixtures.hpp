#pragma once

// Sessions built field by field for the panel tests, events for the events panel, a fixed instant to draw them
// at, and the picture helpers.

#include <chrono>
#include <string>

#include "session_log/event.hpp"
#include "session_store/store.hpp"
#include "term/text.hpp"
#include "term/testing.hpp"

namespace orvik::ui::fixtures {

using namespace std::chrono_literals;
using session_log::Timestamp;
using session_store::Session;
using session_store::ToolCall;
using session_log::TokenUsage;
using term::Color;
using term::testing::rows;
using term::testing::style_runs;
using term::testing::StyleRun;
using Rows = std::vector<std::string>;
using Runs = std::vector<StyleRun>;

inline const Timestamp now = Timestamp{std::chrono::sys_days{std::chrono::year{2025} / 6 / 1}} + 12h;

// Events for the events panel and the frame, at 12:34:56 UTC unless told otherwise.
inline const Timestamp noon = std::chrono::sys_days{std::chrono::year{2025} / 1 / 1} + 12h + 34min + 56s;

inline session_log::SessionEvent event_of(session_log::EventKind kind,
                                          session_log::Uuid session = session_log::Uuid::nil(), bool sidechain = false,
                                          Timestamp at = noon) {
  return session_log::SessionEvent{std::move(kind), session_log::Uuid::new_v4(), session, at, std::nullopt, sidechain};
}

// The detail span of an event row.
inline std::string detail_of(const term::Line& line) { return line.spans.at(2).content; }

inline ToolCall running(std::string name, std::chrono::nanoseconds ago, std::string id = {}) {
  if (id.empty()) id = "toolu_" + name;
  return ToolCall{id, std::move(name), session_store::Running{now - ago}, std::nullopt};
}

inline void add_running(Session& s, std::string name, std::chrono::nanoseconds ago) {
  auto call = running(std::move(name), ago, "toolu_" + std::to_string(s.pending.size()));
  s.pending.insert_or_assign(std::move(call));
}

inline void add_finished(Session& s, std::string name, std::uint64_t ms, bool error = false) {
  session_store::ToolStatus status = session_store::Ok{ms};
  if (error) status = session_store::Error{ms};
  s.tool_calls.push_back(ToolCall{"toolu_done", std::move(name), status, std::nullopt});
}

}  // namespace orvik::ui::fixtures
