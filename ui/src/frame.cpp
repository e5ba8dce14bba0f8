#include "ui/tui.hpp"

#include <string>
#include <string_view>

#include <fmt/format.h>

#include "term/layout.hpp"
#include "texts.hpp"
#include "term/widgets.hpp"
#include "ui/dashboard.hpp"
#include "ui/events_panel.hpp"

namespace orvik::ui {

void draw_frame(term::Frame& frame, const App& app, session_log::Timestamp now) {
  using namespace term;
  const auto [header, body, footer] = split<3>(Layout::vertical({Length(1), Min(0), Length(1)}), frame.area());

  frame.render_widget(
      Paragraph{.lines = {Line{{Span{fmt::format(text::HEADER_FORMAT, app.store.session_count(), app.events.size())}}}},
                .style = Style::with_fg(Color::Cyan, true)},
      header);

  const auto [left, right] = split<2>(Layout::horizontal({Percentage(50), Percentage(50)}), body);
  draw_events_panel(frame, left, app.events);

  if (const auto* session = app.store.latest()) {
    draw_dashboard(frame, right, *session, app.tick, now);
  } else {
    frame.render_widget(Paragraph{.lines = {Line{{Span{std::string(text::WAITING_FOR_SESSION)}}}},
                                  .style = Style::with_fg(Color::DarkGray),
                                  .block = Block{.title = std::string(text::DASHBOARD_TITLE)}},
                        right);
  }

  frame.render_widget(Paragraph{.lines = {Line{{Span{std::string(text::QUIT_KEY), Style::with_fg(Color::Yellow)},
                                                Span{std::string(text::QUIT_LABEL)}}}}},
                      footer);
}

}  // namespace orvik::ui
