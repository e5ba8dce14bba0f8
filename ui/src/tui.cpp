#include "ui/tui.hpp"

#include <unistd.h>

#include <memory>
#include <optional>

#include "term/input.hpp"
#include "term/terminal.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {

using session_log::SessionEvent;

namespace {

// Whether the screen changes with the tick or the clock alone: the Thinking row's spinner, or a running call
// inside the window, with its spinner and elapsed time.
bool moves_on_its_own(const App& app, session_log::Timestamp now) {
  const auto* session = app.store.latest();
  if (!session) return false;
  if (session->awaiting_reply) return true;
  bool recent = false;
  session->pending.newest_first([&](const session_store::ToolCall& call) {
    recent = within_window(std::get<session_store::Running>(call.status).started_at, now);
    return false;  // the latest start is the one nearest the window
  });
  return recent;
}

bool is_quit_key(const term::Event& event) {
  const auto* key = std::get_if<term::KeyEvent>(&event);
  return key && (key->code.is_char(U'q') || key->code.kind == term::KeyCode::Kind::Esc);
}

// Turns until a quit key (success) or the first error of a redraw, a poll or a read.
Result<void> run_loop(App& app, base::Receiver<SessionEvent>& events, term::Terminal& terminal) {
  // Opened at the first wait, so that its failure is a failure of the wait.
  std::optional<term::Input> input;
  // A frame is built only when it may differ from the last one drawn: after a change to the App, after any
  // input (a resize among them), or while a spinner or an elapsed time is on screen, or was on the last frame.
  // Otherwise the full redraw would send nothing, and skipping it sends nothing too.
  bool changed = true;
  bool was_moving = false;
  for (;;) {
    while (auto event = events.try_recv())
      if (!session_log::is_heartbeat(*event)) {
        push_event(app, std::move(*event));
        changed = true;
      }
    ++app.tick;
    const auto now = session_log::now_utc();
    const bool moving = moves_on_its_own(app, now);
    if (changed || moving || was_moving) {
      if (auto drawn = terminal.draw([&](term::Frame& frame) { draw_frame(frame, app, now); }); !drawn)
        return drawn;
      changed = false;
      was_moving = moving;
    }
    if (!input) {
      auto opened = term::Input::open();
      if (!opened) return std::unexpected(std::move(opened.error()));
      input.emplace(std::move(*opened));
      changed = true;  // a resize before the input listened for one came as no event
    }
    auto ready = input->poll(POLL_TIMEOUT);
    if (!ready) return std::unexpected(std::move(ready.error()));
    if (*ready) {
      auto event = input->read();
      if (!event) return std::unexpected(std::move(event.error()));
      if (is_quit_key(*event)) app.quit = true;
      changed = true;
    }
    if (app.quit) return {};
  }
}

}  // namespace

Result<void> run_tui(base::Receiver<SessionEvent> events) {
  // A kill signal or a crash hands the terminal back as the owners below do, then ends the process as before.
  term::RestoreOnSignals on_signals;
  // Freed last, once the terminal is back: a session with huge values can take a while to free.
  auto app = std::make_unique<App>();
  // Released in the reverse order, as the tear-down below goes: raw mode off, the main screen, the cursor shown.
  // So a set-up that fails half-way, and an exception out of the loop, put the terminal back in the same way.
  std::optional<term::Terminal> terminal;
  std::optional<term::AlternateScreen> screen;
  std::optional<term::RawMode> raw;
  // Released before the owners above, on every way out: it is what stops the watcher.
  auto receiver = std::move(events);

  auto raw_mode = term::RawMode::enable();
  if (!raw_mode) return std::unexpected(std::move(raw_mode.error()));
  raw.emplace(std::move(*raw_mode));
  auto entered = term::AlternateScreen::enter(STDOUT_FILENO);
  if (!entered) return std::unexpected(std::move(entered.error()));
  screen.emplace(std::move(*entered));
  auto created = term::Terminal::create(STDOUT_FILENO);
  if (!created) return std::unexpected(std::move(created.error()));
  terminal.emplace(std::move(*created));

  Result<void> outcome = run_loop(*app, receiver, *terminal);

  { auto released = std::move(receiver); }
  // The first step that fails is the error returned; the owners still try the steps after it as they go.
  if (auto r = raw->disable(); !r) return r;
  if (auto r = screen->leave(); !r) return r;
  if (auto r = terminal->show_cursor(); !r) return r;
  return outcome;
}

}  // namespace orvik::ui
