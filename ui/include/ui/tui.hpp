#pragma once

#include "base/channel.hpp"
#include "session_log/event.hpp"
#include "base/error.hpp"
#include "term/frame.hpp"
#include "ui/app.hpp"
#include "ui/events_panel.hpp"

namespace orvik::ui {

// Takes over the terminal, runs the dashboard until q or Esc, and hands the terminal back. Fails with the
// terminal's I/O error; a failed set-up leaves the terminal as far as it got.
Result<void> run_tui(base::Receiver<session_log::SessionEvent> events);

// The whole screen at the instant `now`: header, events panel, dashboard (or the waiting placeholder) and
// footer. The loop reads the clock once per turn and draws with that reading.
void draw_frame(term::Frame& frame, const App& app, session_log::Timestamp now);

}  // namespace orvik::ui
