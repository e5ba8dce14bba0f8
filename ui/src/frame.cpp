#include "ui/tui.hpp"

#include <string>
#include <string_view>

#include <fmt/format.h>

#include "term/layout.hpp"
#include "term/widgets.hpp"
#include "ui/dashboard.hpp"
#include "ui/events_panel.hpp"

namespace orvik::ui {

namespace {

constexpr std::string_view DASHBOARD_TITLE = " Dashboard ";
constexpr std::string_view WAITING_TEXT = "Waiting for session events…";
constexpr std::string_view QUIT_KEY = " q";
constexpr std::string_view QUIT_LABEL = " quit";

std::string header_text(std::size_t sessions, std::size_t events) {
  return fmt::format(" Orvik   {} sessions   {} events ", sessions, events);
}

}  // namespace

void draw_frame(term::Frame& frame, const App& app, session_log::Timestamp now) {
  using namespace term;
  const auto [header, body, footer] = split<3>(Layout::vertical({Length(1), Min(0), Length(1)}), frame.area());

  frame.render_widget(
      Paragraph{.lines = {Line{{Span{header_text(app.store.session_count(), app.events.size())}}}},
                .style = Style::with_fg(Color::Cyan, true)},
      header);

  const auto [left, right] = split<2>(Layout::horizontal({Percentage(50), Percentage(50)}), body);
  draw_events_panel(frame, left, app.events);

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

}  // namespace orvik::ui
