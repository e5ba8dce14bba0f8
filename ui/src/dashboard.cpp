#include "ui/dashboard.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

#include "base/overloaded.hpp"
#include "shown.hpp"
#include "term/layout.hpp"
#include "term/widgets.hpp"

namespace orvik::ui {

namespace {

using namespace term;
using session_store::Session;
using session_store::ToolCall;
namespace step = session_store::step;
using base::overloaded;

Style bold(Color c) { return Style::with_fg(c, true); }
Style plain(Color c) { return Style::with_fg(c); }

// Left-aligned in NAME_COLUMN_WIDTH characters counted as code points, not cells; longer names stay whole, as
// far as `cells` columns show them.
std::string padded_name(std::string_view name, std::size_t cells) {
  std::size_t code_points = 0;
  for (std::size_t i = 0; i < name.size() && code_points < NAME_COLUMN_WIDTH; ++i)
    if ((static_cast<unsigned char>(name[i]) & 0xc0) != 0x80) ++code_points;
  if (code_points >= NAME_COLUMN_WIDTH) return std::string(shown_prefix(name, cells));
  std::string out(name);
  out.append(NAME_COLUMN_WIDTH - code_points, ' ');
  return out;
}

// now − start, saturated: a log's timestamps may lie further from the clock than a nanosecond count can span.
std::chrono::nanoseconds since(session_log::Timestamp start, session_log::Timestamp now) {
  std::int64_t ns = 0;
  if (__builtin_sub_overflow(now.time_since_epoch().count(), start.time_since_epoch().count(), &ns))
    return start > now ? std::chrono::nanoseconds::min() : std::chrono::nanoseconds::max();
  return std::chrono::nanoseconds{ns};
}

session_log::Timestamp started_at(const ToolCall& call) {
  return std::get<session_store::Running>(call.status).started_at;
}

// "{:.1}s" of the whole milliseconds since the start, never below zero; fmt rounds from the exact double,
// ties to even, as the elapsed texts must.
std::string elapsed_text(session_log::Timestamp start, session_log::Timestamp now) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since(start, now)).count();
  return fmt::format(" [{:.1f}s]", static_cast<double>(std::max<std::int64_t>(ms, 0)) / 1000.0);
}

}  // namespace

bool within_window(session_log::Timestamp start, session_log::Timestamp now) {
  // Truncated toward zero: 30.9 s counts as 30, and a start in the future as 0 or less.
  return std::chrono::duration_cast<std::chrono::seconds>(since(start, now)).count() <= RUNNING_WINDOW_SECS;
}

namespace {

ListItem row(std::vector<Span> spans) { return ListItem{Line{std::move(spans)}}; }

ListItem finished_row(const ToolCall& call, std::size_t cells) {
  struct Mark {
    std::string_view symbol;
    Color colour;
    std::uint64_t duration_ms;
  };
  const Mark mark = std::visit(overloaded{
                                   [](const session_store::Ok& ok) {
                                     return Mark{"✓ ", Color::Cyan, ok.duration_ms};
                                   },
                                   [](const session_store::Error& e) {
                                     return Mark{"✗ ", Color::Red, e.duration_ms};
                                   },
                                   // The store finishes every call it lists; should one still run, it gets no mark.
                                   [](const session_store::Running&) {
                                     return Mark{"  ", Color::Reset, 0};
                                   },
                               },
                               call.status);
  return row({Span{std::string(mark.symbol), plain(mark.colour)}, Span{padded_name(call.name, cells), plain(Color::DarkGray)},
              Span{fmt::format(" {}ms", mark.duration_ms), plain(Color::DarkGray)}});
}

void draw_session_panel(Frame& frame, Rect area, const Session& session) {
  const bool live = !session.pending.empty();
  frame.render_widget(
      Paragraph{.lines = {Line{{Span{" Live session", Style{.bold = true}},
                                Span{live ? "   ● LIVE" : "   ○ idle", plain(live ? Color::Green : Color::DarkGray)},
                                Span{fmt::format("   {} events", session.event_count), plain(Color::DarkGray)}}}},
                .block = Block{.title = " Session "}},
      area);
}

// The step's node as far as `cells` columns show it; `clusters` gets a count that the node's text holds at least.
// "[{}]" of the names joined by " ‖ ", formed until it holds more clusters than `cells`; `clusters` gets a
// count that it holds at least (a name may join the space before it into one cluster).
std::string tools_join(const std::vector<std::string>& names, std::size_t cells, std::size_t& clusters) {
  std::string out = "[";
  clusters = 1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (clusters > cells) return out;
    if (i != 0) {
      out += " ‖ ";
      clusters += 2;  // the space before ‖ may join the end of the name before it
    }
    std::size_t own = 0;
    out += shown_prefix(names[i], cells, &own);
    clusters += own > 0 ? own - 1 : 0;
  }
  out += ']';
  ++clusters;
  return out;
}

Span node(const session_store::Step& s, std::size_t cells, std::size_t& clusters) {
  return std::visit(overloaded{
                        [&](const step::User&) {
                          clusters = 4;
                          return Span{"USER", bold(Color::White)};
                        },
                        [&](const step::Thinking&) {
                          clusters = 5;
                          return Span{"THINK", bold(Color::Yellow)};
                        },
                        [&](const step::Assistant&) {
                          clusters = 4;
                          return Span{"ASST", bold(Color::Magenta)};
                        },
                        [&](const step::Tools& t) {
                          if (t.names.size() == 1)
                            return Span{std::string(shown_prefix(t.names.front(), cells, &clusters)), bold(Color::Green)};
                          return Span{tools_join(t.names, cells, clusters), bold(Color::Green)};
                        },
                    },
                    s);
}

void draw_flow_panel(Frame& frame, Rect area, const Session& session) {
  Line line;
  const auto& flow = session.flow;
  const std::size_t first = flow.size() > FLOW_NODE_LIMIT ? flow.size() - FLOW_NODE_LIMIT : 0;
  if (first == flow.size()) line.spans.push_back(Span{"waiting for events…", plain(Color::DarkGray)});
  // Every cluster takes a cell or more, so once the nodes hold more clusters than the line has cells, the
  // nodes after them cannot be seen and are not formed.
  const std::size_t cells = area.width;
  std::size_t shown = 0;
  for (std::size_t i = first; i < flow.size() && shown <= cells; ++i) {
    if (i != first) {
      line.spans.push_back(Span{" → ", plain(Color::DarkGray)});
      shown += 2;  // its first space may join the end of the node before it
    }
    std::size_t clusters = 0;
    line.spans.push_back(node(flow[i], cells, clusters));
    shown += clusters > 0 ? clusters - 1 : 0;  // its start may join the space before it
  }
  frame.render_widget(Paragraph{.lines = {std::move(line)}, .block = Block{.title = " Flow "}}, area);
}

}  // namespace

std::vector<const ToolCall*> recent_running_tools(std::vector<const ToolCall*> calls, session_log::Timestamp now) {
  std::erase_if(calls, [&](const ToolCall* call) {
    const auto* running = std::get_if<session_store::Running>(&call->status);
    return !running || !within_window(running->started_at, now);
  });
  return calls;
}

void draw_steps_panel(Frame& frame, Rect area, const Session& session, std::uint64_t tick) {
  draw_steps_panel(frame, area, session, tick, session_log::now_utc());
}

void draw_steps_panel(Frame& frame, Rect area, const Session& session, std::uint64_t tick, session_log::Timestamp now) {
  const std::size_t budget = area.height > 2 ? area.height - 2u : 0u;
  const std::string spinner(SPINNER_FRAMES[tick % SPINNER_FRAMES.size()]);
  List list{.block = Block{.title = " Steps (newest first) "}};
  auto& rows = list.items;

  // Built even when no row is free, and counted against the budget like any other row.
  if (session.awaiting_reply)
    rows.push_back(row({Span{spinner + " ", bold(Color::Yellow)}, Span{"Thinking…   ", bold(Color::Yellow)}}));

  // Latest start first, and only until the budget is full or the starts fall out of the window: however many
  // calls never finish, the panel looks at no more than it shows.
  const std::size_t cells = area.width;
  session.pending.newest_first([&](const ToolCall& call) {
    if (rows.size() >= budget || !within_window(started_at(call), now)) return false;
    rows.push_back(row({Span{spinner + " ", bold(Color::Yellow)}, Span{padded_name(call.name, cells), bold(Color::Green)},
                        Span{elapsed_text(started_at(call), now), plain(Color::DarkGray)}}));
    return true;
  });
  // Newest first, and only as many as fit: a long session costs no more than a short one.
  for (auto it = session.tool_calls.rbegin(); it != session.tool_calls.rend() && rows.size() < budget; ++it)
    rows.push_back(finished_row(*it, cells));

  frame.render_widget(list, area);
}

void draw_dashboard(Frame& frame, Rect area, const Session& session, std::uint64_t tick) {
  draw_dashboard(frame, area, session, tick, session_log::now_utc());
}

void draw_dashboard(Frame& frame, Rect area, const Session& session, std::uint64_t tick, session_log::Timestamp now) {
  const auto [session_area, tokens_area, steps_area, flow_area] =
      split<4>(Layout::vertical({Length(3), Length(6), Min(6), Length(3)}), area);
  draw_session_panel(frame, session_area, session);
  draw_tokens_panel(frame, tokens_area, session);
  draw_steps_panel(frame, steps_area, session, tick, now);
  draw_flow_panel(frame, flow_area, session);
}

}  // namespace orvik::ui
