// draw_dashboard into a 120×40 buffer for a long session and a short one: the two should cost the same,
// since the panels look only at the newest calls and steps. 30 calls already fill the steps panel, so that
// size shows what the long session costs beyond a full panel: nothing.
// BM_DrawFrame draws the whole screen for sessions whose fields are huge or whose calls never finish, beside
// the short session: each should cost about what the short one does, since only a screen's width is shown.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

#include "corpus.hpp"
#include "session_log/parse_line.hpp"
#include "term/buffer.hpp"
#include "term/frame.hpp"
#include "ui/app.hpp"
#include "ui/dashboard.hpp"
#include "ui/tui.hpp"

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
  return s;
}

void BM_DrawDashboard(benchmark::State& state) {
  auto session = make_session(static_cast<std::size_t>(state.range(0)));
  const auto now = session_log::now_utc();
  // Three calls running, through the store's own rule so that every index it keeps is kept.
  for (std::size_t i = 0; i < 3; ++i)
    session.apply(session_log::SessionEvent{session_log::ToolUse{"toolu_running_" + std::to_string(i), "Bash", {}},
                                            session_log::Uuid::new_v4(), session_log::Uuid::nil(),
                                            now - std::chrono::seconds(i * 5), std::nullopt, false});
  std::uint64_t tick = 0;
  for (auto _ : state) {
    auto buf = term::Buffer::empty({0, 0, 120, 40});  // the run loop builds a fresh buffer every turn
    term::Frame frame{buf};
    orvik::ui::draw_dashboard(frame, buf.area, session, ++tick, session_log::now_utc());
    benchmark::DoNotOptimize(buf.cells.data());
  }
}
BENCHMARK(BM_DrawDashboard)->Arg(10)->Arg(30)->Arg(10000)->Unit(benchmark::kMicrosecond);

enum Case : int { Short, HugeName, HugeInput, HugeInputRows, HugeTools, Pending100k };

session_log::SessionEvent event(session_log::EventKind kind, session_log::Timestamp at, bool with_parent = true) {
  static const auto session = session_log::Uuid::new_v4();
  std::optional<session_log::Uuid> parent;
  if (with_parent) parent = session_log::Uuid::nil();
  return session_log::SessionEvent{std::move(kind), session_log::Uuid::new_v4(), session, at, parent, false};
}

nlohmann::json numbers(int count) {
  nlohmann::json list = nlohmann::json::array();
  for (int i = 0; i <= count; ++i) list.push_back(i);
  return nlohmann::json{{"n", std::move(list)}};
}

// The App after a short session, then the case's events; every call is left running.
std::unique_ptr<ui::App> make_app(Case c) {
  auto app = std::make_unique<ui::App>();
  auto t = session_log::now_utc() - 10s;
  ui::push_event(*app, event(session_log::User{"Run the tests"}, t, false));
  for (int i = 0; i < 20; ++i)
    ui::push_event(*app, event(session_log::ToolUse{"toolu_" + std::to_string(i), "Bash", {{"command", "ls"}}}, t));
  ui::push_event(*app, event(session_log::Assistant{session_log::TokenUsage{1200, 300, 5000, 0}, "Done.", {}}, t));
  switch (c) {
    case Short: break;
    case HugeName:
      ui::push_event(*app, event(session_log::ToolUse{"toolu_name", std::string(50'000'000, 'x'), {}}, t));
      break;
    case HugeInput: ui::push_event(*app, event(session_log::ToolUse{"toolu_input", "Bash", numbers(5'000'000)}, t)); break;
    case HugeInputRows:  // a tenth of the size each, to stay within memory
      for (int i = 0; i < 30; ++i)
        ui::push_event(*app, event(session_log::ToolUse{"toolu_rows" + std::to_string(i), "Bash", numbers(500'000)}, t));
      break;
    case HugeTools:
      for (int i = 0; i < 20; ++i)
        ui::push_event(*app, event(session_log::ToolUse{"toolu_tools" + std::to_string(i),
                                                        std::string(5'000'000, static_cast<char>('a' + i)), {}},
                                   t));
      break;
    case Pending100k:
      for (int i = 0; i < 100'000; ++i)
        ui::push_event(*app, event(session_log::ToolUse{"toolu_p" + std::to_string(i), "Read", {}}, t - 60s, false));
      ui::push_event(*app, event(session_log::Assistant{std::nullopt, "Still going.", {}}, t));
      break;
  }
  return app;
}

void BM_DrawFrame(benchmark::State& state) {
  const auto app = make_app(static_cast<Case>(state.range(0)));
  for (auto _ : state) {
    auto buf = term::Buffer::empty({0, 0, 120, 40});
    term::Frame frame{buf};
    ++app->tick;
    orvik::ui::draw_frame(frame, *app, session_log::now_utc());
    benchmark::DoNotOptimize(buf.cells.data());
  }
}
BENCHMARK(BM_DrawFrame)
    ->ArgName("case")  // 0 short, 1 50 MB name, 2 {"n":[0..5000000]}, 3 30 such rows, 4 Tools of 20×5 MB, 5 100k pending
    ->DenseRange(Short, Pending100k)
    ->Unit(benchmark::kMicrosecond);

// The dashboard's share of a catch-up: push_event over the events of the first 20 MB of the synthetic log,
// made on another thread as the watcher makes them, so that each one held and let go is freed here.
void BM_PushEvent(benchmark::State& state) {
  const auto& corpus = orvik::bench::synthetic_corpus();
  if (corpus.lines.empty()) {
    state.SkipWithError("no synthetic corpus");
    return;
  }
  std::int64_t bytes = 0, count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<session_log::SessionEvent> events;
    std::int64_t read = 0;
    std::thread watcher([&] {
      for (const auto& line : corpus.lines) {
        if (read >= 20'000'000) break;
        read += static_cast<std::int64_t>(line.size());
        if (auto parsed = session_log::parse_line(line))
          for (auto& e : *parsed) events.push_back(std::move(e));
      }
    });
    watcher.join();
    auto app = std::make_unique<ui::App>();
    state.ResumeTiming();
    switch (state.range(0)) {
      case 0:
        for (auto& e : events) ui::push_event(*app, std::move(e));
        break;
      case 1:  // what the store alone costs
        for (auto& e : events) app->store.ingest(e);
        break;
      default:  // the store, then each event let go at once: what freeing costs
        for (auto& e : events) {
          app->store.ingest(e);
          auto gone = std::move(e);
        }
    }
    benchmark::DoNotOptimize(app->events.size());
    state.PauseTiming();
    bytes += read;
    count += static_cast<std::int64_t>(events.size());
    app.reset();
    events.clear();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(count);
}
BENCHMARK(BM_PushEvent)
    ->ArgName("part")  // 0 push_event, 1 ingest alone, 2 ingest and free
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
