#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "base/channel.hpp"
#include "session_log/event.hpp"
#include "base/error.hpp"
#include "term/frame.hpp"
#include "term/text.hpp"
#include "term/widgets.hpp"
#include "ui/app.hpp"

namespace orvik::ui {

// Columns of the events panel's width not given to the detail text of a row.
inline constexpr std::uint16_t EVENT_ROW_RESERVED_COLUMNS = 22;
// The most characters of a tool call's argument preview.
inline constexpr std::uint64_t TOOL_ARG_PREVIEW_CHARS = 60;

// Takes over the terminal, runs the dashboard until q or Esc, and hands the terminal back. Fails with the
// terminal's I/O error; a failed set-up leaves the terminal as far as it got.
Result<void> run_tui(base::Receiver<session_log::SessionEvent> events);

// The whole screen: header, events panel, dashboard (or the waiting placeholder) and footer.
void draw_frame(term::Frame& frame, const App& app);
// The same, with the steps panel's clock reading given.
void draw_frame(term::Frame& frame, const App& app, session_log::Timestamp now);

// The rows of the events panel, newest first: min(events, limit) of them. A tool use's detail is formed only as
// far as a panel with this budget can show it.
std::vector<term::ListItem> collect_event_rows(const std::deque<session_log::SessionEvent>& events,
                                               std::size_t limit, std::uint64_t budget);

// One row: the time in UTC, the kind's label, the detail (cut to `budget` characters except for tool uses).
term::Line event_row(const session_log::SessionEvent& event, std::uint64_t budget);

// `text` without White_Space at either end; beyond `max_chars` code points, its first `max_chars` and "…".
std::string truncate_text(std::string_view text, std::uint64_t max_chars);

}  // namespace orvik::ui
