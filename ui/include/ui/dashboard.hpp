#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "session_store/store.hpp"
#include "term/frame.hpp"

namespace orvik::ui {

// The spinner of running rows and the Thinking row; a draw shows frame tick mod 10.
inline constexpr std::array<std::string_view, 10> SPINNER_FRAMES = {"⠋", "⠙", "⠹", "⠸", "⠼",
                                                                    "⠴", "⠦", "⠧", "⠇", "⠏"};
// A running call is listed while it has run at most this many whole seconds.
inline constexpr std::int64_t RUNNING_WINDOW_SECS = 30;
// Tool names are padded to this many characters (code points), never cut.
inline constexpr std::size_t NAME_COLUMN_WIDTH = 12;

inline constexpr std::uint64_t TOKEN_GAUGE_LIMIT = 200000;
inline constexpr double GAUGE_YELLOW_RATIO = 0.5;
inline constexpr double GAUGE_RED_RATIO = 0.8;
inline constexpr double PRICE_INPUT_PER_MILLION = 3.0;
inline constexpr double PRICE_OUTPUT_PER_MILLION = 15.0;
inline constexpr double PRICE_CACHE_READ_PER_MILLION = 0.3;
inline constexpr std::size_t FLOW_NODE_LIMIT = 12;

// Draws the session, tokens, steps and flow panels of `session` into `area`, stacked top to bottom, as they
// stand at the instant `now`.
void draw_dashboard(term::Frame& frame, term::Rect area, const session_store::Session& session, std::uint64_t tick,
                    session_log::Timestamp now);

// The last turn's token gauge, the session's totals and its estimated cost, in one box of five rows.
void draw_tokens_panel(term::Frame& frame, term::Rect area, const session_store::Session& session);

// The Thinking row, the recent running calls (latest start first) and the finished calls (latest first),
// as many as fit inside the box, at the instant `now`.
void draw_steps_panel(term::Frame& frame, term::Rect area, const session_store::Session& session, std::uint64_t tick,
                      session_log::Timestamp now);

// Whether a call started at `start` is listed at `now`: it has run at most RUNNING_WINDOW_SECS whole seconds
// (a start after `now` counts as just started).
bool within_window(session_log::Timestamp start, session_log::Timestamp now);

// Keeps, in order and in the same storage, the running calls that have run at most RUNNING_WINDOW_SECS whole
// seconds at `now` (a start after `now` counts as just started).
std::vector<const session_store::ToolCall*> recent_running_tools(std::vector<const session_store::ToolCall*> calls,
                                                                 session_log::Timestamp now);

}  // namespace orvik::ui
