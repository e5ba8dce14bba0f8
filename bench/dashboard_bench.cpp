// draw_dashboard into a 120×40 buffer for a long session and a short one: the two should cost the same,
// since the panels look only at the newest calls and steps. 30 calls already fill the steps panel, so that
// size shows what the long session costs beyond a full panel: nothing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "term/buffer.hpp"
#include "term/frame.hpp"
#include "ui/dashboard.hpp"

namespace {

using namespace orvik;
using namespace std::chrono_literals;
using session_store::Session;
using session_store::ToolCall;
namespace step = session_store::step;

Session make_session(std::size_t size) {
  Session s;
  s.event_count = size * 4;
  s.last_usage = session_log::TokenUsage{90000, 4000, 60000, 1000};
  s.totals = session_log::TokenUsage{90000 * size, 4000 * size, 60000 * size, 1000 * size};
  s.awaiting_reply = true;
  const char* names[] = {"Bash", "Read", "Edit", "Grep", "mcp__server__fetch"};
  for (std::size_t i = 0; i < size; ++i) {
    const std::string name = names[i % 5];
    s.tool_calls.push_back(ToolCall{"toolu_" + std::to_string(i), name,
                                    session_store::Ok{static_cast<std::uint64_t>(100 + i % 900)}, std::nullopt});
    if (i % 4 == 0)
      s.flow.push_back(step::User{});
    else if (i % 4 == 1)
      s.flow.push_back(step::Thinking{});
    else if (i % 4 == 2)
      s.flow.push_back(step::Tools{{name, names[(i + 1) % 5]}});
    else
      s.flow.push_back(step::Assistant{});
  }
  const auto now = session_log::now_utc();
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string id = "toolu_running_" + std::to_string(i);
    s.pending.emplace(id,
                      ToolCall{id, names[i], session_store::Running{now - std::chrono::seconds(i * 5)}, std::nullopt});
  }
  return s;
}

void BM_DrawDashboard(benchmark::State& state) {
  const auto session = make_session(static_cast<std::size_t>(state.range(0)));
  std::uint64_t tick = 0;
  for (auto _ : state) {
    auto buf = term::Buffer::empty({0, 0, 120, 40});  // the run loop builds a fresh buffer every turn
    term::Frame frame{buf};
    orvik::ui::draw_dashboard(frame, buf.area, session, ++tick);
    benchmark::DoNotOptimize(buf.cells.data());
  }
}
BENCHMARK(BM_DrawDashboard)->Arg(10)->Arg(30)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
