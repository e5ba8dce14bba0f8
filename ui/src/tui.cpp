#include "ui/tui.hpp"

#include <unistd.h>

#include <chrono>
#include <limits>
#include <optional>

#include <fmt/format.h>

#include "base/text.hpp"
#include "base/utf8.hpp"
#include "term/input.hpp"
#include "term/layout.hpp"
#include "term/text.hpp"
#include "term/terminal.hpp"
#include "shown.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {

using session_log::SessionEvent;
using term::Color;
using term::Line;
using term::Span;
using term::Style;

namespace {

constexpr std::string_view ELLIPSIS = "…";
constexpr std::string_view EVENTS_TITLE = " Events (newest first) ";
constexpr std::string_view DASHBOARD_TITLE = " Dashboard ";
constexpr std::string_view WAITING_TEXT = "Waiting for session events…";
constexpr std::string_view QUIT_KEY = " q";
constexpr std::string_view QUIT_LABEL = " quit";

std::string header_text(std::size_t sessions, std::size_t events) {
  return fmt::format(" Orvik   {} sessions   {} events ", sessions, events);
}

std::string clock_text(session_log::Timestamp t) {
  const auto secs = std::chrono::floor<std::chrono::seconds>(t);
  const std::chrono::hh_mm_ss hms{secs - std::chrono::floor<std::chrono::days>(secs)};
  return fmt::format("{:02}:{:02}:{:02} ", hms.hours().count(), hms.minutes().count(), hms.seconds().count());
}

std::string argument_preview(const nlohmann::json& input) {
  if (input.is_object())
    for (auto it = input.begin(); it != input.end(); ++it)  // keys in byte order
      if (it->is_string()) return truncate_text(it->get_ref<const std::string&>(), TOOL_ARG_PREVIEW_CHARS);
  return compact_json_preview(input, TOOL_ARG_PREVIEW_CHARS);
}

// "{name} {preview}", of which only `cells` columns can be shown: a name that fills them alone is cut there,
// and then the preview is not formed at all.
std::string tool_use_detail(const session_log::ToolUse& use, std::size_t cells) {
  std::size_t clusters = 0;
  const auto name = shown_prefix(use.name, cells, &clusters);
  if (clusters > cells) return std::string(name);
  return fmt::format("{} {}", name, argument_preview(use.input));
}

struct RowKind {
  std::string_view label;
  Color color;
  std::string detail;
};

RowKind row_kind(const session_log::EventKind& kind, std::uint64_t budget, std::size_t detail_cells) {
  using namespace session_log;
  return std::visit(
      [&](const auto& k) -> RowKind {
        using K = std::decay_t<decltype(k)>;
        if constexpr (std::is_same_v<K, ToolUse>)
          return {"TOOL▶", Color::Green, tool_use_detail(k, detail_cells)};
        else if constexpr (std::is_same_v<K, ToolResult>)
          return {"TOOL◀", Color::Blue, truncate_text(k.content, budget)};
        else if constexpr (std::is_same_v<K, Assistant>)
          return {"ASST ", Color::Magenta, truncate_text(k.text, budget)};
        else if constexpr (std::is_same_v<K, User>)
          return {"USER ", Color::White, truncate_text(k.text, budget)};
        else if constexpr (std::is_same_v<K, Thinking>)
          return {"THINK", Color::Yellow, truncate_text(k.thinking, budget)};
        else if constexpr (std::is_same_v<K, Heartbeat>)
          return {"", Color::Reset, ""};  // never held, so never drawn
        else
          static_assert(sizeof(K) == 0, "every kind needs a row");
      },
      kind);
}

}  // namespace

std::string truncate_text(std::string_view text, std::uint64_t max_chars) {
  const std::string_view trimmed = base::trim_white_space(text);
  std::size_t pos = 0;
  for (std::uint64_t count = 0; pos < trimmed.size(); ++count) {
    if (count == max_chars) return std::string(trimmed.substr(0, pos)).append(ELLIPSIS);
    (void)base::next_char_or_fffd(trimmed, pos);
  }
  return std::string(trimmed);
}

namespace {

// The row, with a tool use's detail formed only as far as `detail_cells` columns can show it.
Line event_row(const SessionEvent& event, std::uint64_t budget, std::size_t detail_cells) {
  RowKind kind = row_kind(event.kind, budget, detail_cells);
  Line line;
  line.spans.reserve(3);
  line.spans.push_back(Span{clock_text(event.timestamp), Style::with_fg(Color::DarkGray)});
  line.spans.push_back(
      Span{fmt::format("{}{} ", event.is_sidechain ? "[S] " : "", kind.label), Style::with_fg(kind.color, true)});
  line.spans.push_back(Span{std::move(kind.detail), Style{}});
  return line;
}

}  // namespace

Line event_row(const SessionEvent& event, std::uint64_t budget) {
  return event_row(event, budget, std::numeric_limits<std::size_t>::max());
}

std::vector<term::ListItem> collect_event_rows(const std::deque<SessionEvent>& events, std::size_t limit,
                                               std::uint64_t budget) {
  std::vector<term::ListItem> rows;
  rows.reserve(std::min(events.size(), limit));
  // A detail starts 15 columns into the box and ends at its border: the half is budget + 22 columns wide,
  // or at most 22 when the budget is 0.
  const std::size_t detail_cells = static_cast<std::size_t>(budget) + EVENT_ROW_RESERVED_COLUMNS - 2 - 15;
  for (auto it = events.rbegin(); it != events.rend() && rows.size() < limit; ++it)
    rows.push_back(term::ListItem{event_row(*it, budget, detail_cells), Style{}});
  return rows;
}

void draw_frame(term::Frame& frame, const App& app) { draw_frame(frame, app, session_log::now_utc()); }

void draw_frame(term::Frame& frame, const App& app, session_log::Timestamp now) {
  using namespace term;
  const auto [header, body, footer] = split<3>(Layout::vertical({Length(1), Min(0), Length(1)}), frame.area());

  frame.render_widget(
      Paragraph{.lines = {Line{{Span{header_text(app.store.session_count(), app.events.size())}}}},
                .style = Style::with_fg(Color::Cyan, true)},
      header);

  const auto [left, right] = split<2>(Layout::horizontal({Percentage(50), Percentage(50)}), body);
  const std::uint16_t budget =
      left.width > EVENT_ROW_RESERVED_COLUMNS ? static_cast<std::uint16_t>(left.width - EVENT_ROW_RESERVED_COLUMNS) : 0;
  frame.render_widget(List{.items = collect_event_rows(app.events, left.height, budget),
                           .block = Block{.title = std::string(EVENTS_TITLE)}},
                      left);

  if (const auto* session = app.store.latest()) {
    draw_dashboard(frame, right, *session, app.tick, now);
  } else {
    frame.render_widget(Paragraph{.lines = {Line{{Span{std::string(WAITING_TEXT)}}}},
                                  .style = Style::with_fg(Color::DarkGray),
                                  .block = Block{.title = std::string(DASHBOARD_TITLE)}},
                        right);
  }

  frame.render_widget(Paragraph{.lines = {Line{{Span{std::string(QUIT_KEY), Style::with_fg(Color::Yellow)},
                                                Span{std::string(QUIT_LABEL)}}}}},
                      footer);
}

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
