#include <fmt/format.h>

#include <algorithm>

#include "term/layout.hpp"
#include "texts.hpp"
#include "term/widgets.hpp"
#include "ui/dashboard.hpp"

namespace orvik::ui {

namespace {

using namespace term;

Color bar_color(double ratio) {
  if (ratio >= GAUGE_RED_RATIO) return Color::Red;
  if (ratio >= GAUGE_YELLOW_RATIO) return Color::Yellow;
  return Color::Green;
}

// Dollars for the session's totals; cache creation is not priced.
double estimated_cost(const session_log::TokenUsage& totals) {
  const double input = static_cast<double>(totals.input);
  const double output = static_cast<double>(totals.output);
  const double cache_read = static_cast<double>(totals.cache_read);
  return ((input * PRICE_INPUT_PER_MILLION + output * PRICE_OUTPUT_PER_MILLION) +
          cache_read * PRICE_CACHE_READ_PER_MILLION) /
         1000000.0;
}

Paragraph slot_line(std::string text, Borders borders) {
  return Paragraph{.lines = {Line{{Span{std::move(text)}}}},
                   .style = Style::with_fg(Color::DarkGray),
                   .block = Block{.borders = borders}};
}

}  // namespace

void draw_tokens_panel(Frame& frame, Rect area, const session_store::Session& session) {
  const auto [gauge_slot, totals_slot, cost_slot] = split<3>(Layout::vertical({Length(2), Length(1), Length(2)}), area);

  double ratio = 0.0;
  std::string label(text::NO_TURNS_YET);
  if (const auto& last = session.last_usage) {
    label = fmt::format(text::LAST_TURN_FORMAT, last->input, last->output, last->cache_read);
    // Each count is capped before the sum, so counts near 2^64 fill the bar instead of wrapping to nothing.
    const std::uint64_t used = std::min(
        std::min(last->input, TOKEN_GAUGE_LIMIT) + std::min(last->output, TOKEN_GAUGE_LIMIT), TOKEN_GAUGE_LIMIT);
    ratio = static_cast<double>(used) / static_cast<double>(TOKEN_GAUGE_LIMIT);
  }
  frame.render_widget(Gauge{.ratio = ratio,
                            .label = std::move(label),
                            .gauge_style = Style::with_fg(bar_color(ratio)),
                            .block = Block{.title = std::string(text::TOKENS_TITLE),
                                           .borders = Borders::Top | Borders::Left | Borders::Right}},
                      gauge_slot);

  const auto& t = session.totals;
  frame.render_widget(
      slot_line(fmt::format(text::SESSION_TOTAL_FORMAT, t.input, t.output, t.cache_read),
                Borders::Left | Borders::Right),
      totals_slot);
  frame.render_widget(slot_line(fmt::format(text::COST_FORMAT, estimated_cost(t)),
                                Borders::Left | Borders::Right | Borders::Bottom),
                      cost_slot);
}

}  // namespace orvik::ui
