#include "ui/events_panel.hpp"

#include <chrono>
#include <limits>

#include <fmt/format.h>

#include "base/text.hpp"
#include "base/utf8.hpp"
#include "shown.hpp"
#include "term/text.hpp"
#include "texts.hpp"

namespace orvik::ui {

using session_log::SessionEvent;
using term::Color;
using term::Line;
using term::Span;
using term::Style;

namespace {

constexpr std::string_view ELLIPSIS = "…";

std::string clock_text(session_log::Timestamp t) {
  const auto secs = std::chrono::floor<std::chrono::seconds>(t);
  const std::chrono::hh_mm_ss hms{secs - std::chrono::floor<std::chrono::days>(secs)};
  return fmt::format(text::EVENT_TIME_FORMAT, hms.hours().count(), hms.minutes().count(), hms.seconds().count());
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
      Span{fmt::format("{}{} ", event.is_sidechain ? text::SIDECHAIN_MARK : "", kind.label), Style::with_fg(kind.color, true)});
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

void draw_events_panel(term::Frame& frame, term::Rect area, const std::deque<SessionEvent>& events) {
  const std::uint16_t budget =
      area.width > EVENT_ROW_RESERVED_COLUMNS ? static_cast<std::uint16_t>(area.width - EVENT_ROW_RESERVED_COLUMNS) : 0;
  frame.render_widget(term::List{.items = collect_event_rows(events, area.height, budget),
                                 .block = term::Block{.title = std::string(text::EVENTS_TITLE)}},
                      area);
}

}  // namespace orvik::ui
