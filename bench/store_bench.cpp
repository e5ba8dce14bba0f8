// SessionStore::ingest over a realistic mix of events spread across a few sessions.
#include <benchmark/benchmark.h>

#include "session_store/store.hpp"

namespace {

using namespace orvik::session_log;
using orvik::session_store::SessionStore;

std::vector<SessionEvent> make_events(std::size_t count) {
  const Uuid sessions[] = {Uuid::new_v4(), Uuid::new_v4(), Uuid::new_v4(), Uuid::new_v4()};
  std::vector<SessionEvent> events;
  events.reserve(count);
  auto t = now_utc();
  for (std::size_t i = 0; events.size() < count; ++i) {
    const Uuid s = sessions[i % 4];
    const Uuid r = Uuid::new_v4();
    t += std::chrono::milliseconds(137);
    const std::string id = "toolu_" + std::to_string(i);
    const std::string msg = "msg_" + std::to_string(i);
    events.push_back({User{"prompt"}, r, s, t, std::nullopt, false});
    events.push_back({Thinking{"thinking", std::nullopt}, Uuid::new_v4(), s, t, r, false});
    events.push_back({ToolUse{id, "Bash", {{"command", "ls"}}}, Uuid::new_v4(), s, t, r, false});
    events.push_back({Assistant{TokenUsage{1200, 300, 40000, 900}, "text", msg}, r, s, t, std::nullopt, false});
    events.push_back({Assistant{TokenUsage{1200, 420, 40000, 900}, "", msg}, r, s, t, std::nullopt, false});
    events.push_back({ToolResult{id, "out", std::nullopt, false}, Uuid::new_v4(), s,
                      t + std::chrono::milliseconds(250), r, false});
  }
  return events;
}

void BM_Ingest(benchmark::State& state) {
  const auto events = make_events(60000);
  for (auto _ : state) {
    auto store = SessionStore::make();
    for (const auto& e : events) store.ingest(e);
    benchmark::DoNotOptimize(store.latest());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(events.size()));
}
BENCHMARK(BM_Ingest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
