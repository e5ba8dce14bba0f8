// parse_line over the real agent logs and over a 100 MB synthetic log, beside the reader alone and
// beside parse_line with its events handed over to another thread.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "corpus.hpp"
#include "base/channel.hpp"
#include "session_log/parse_line.hpp"
#include "session_log/raw.hpp"

namespace {

using namespace orvik::session_log;
using orvik::base::channel;
using orvik::base::Receiver;
using orvik::bench::Corpus;

template <class ReadLine>
void run(benchmark::State& state, const Corpus& corpus, ReadLine read_line) {
  if (corpus.lines.empty()) {
    state.SkipWithError("corpus not available");
    return;
  }
  std::int64_t events = 0;
  std::int64_t rejected = 0;
  for (auto _ : state) {
    for (const auto& line : corpus.lines) read_line(line, events, rejected);
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["events"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["rejected"] = static_cast<double>(rejected) / static_cast<double>(state.iterations());
}

void parse(const std::string& line, std::int64_t& events, std::int64_t& rejected) {
  auto result = parse_line(line);
  if (result) {
    events += static_cast<std::int64_t>(result->size());
  } else {
    ++rejected;
  }
  benchmark::DoNotOptimize(result);
}

void read_only(const std::string& line, std::int64_t&, std::int64_t& rejected) {
  auto record = read_raw_record(line);
  rejected += !record.has_value();
  benchmark::DoNotOptimize(record);
}

// Takes events off the channel on a thread of its own every millisecond and drops them, as the
// dashboard's drain does; the last drain follows the end of the sending at once, so no wait is timed.
struct Drain {
  std::mutex mutex;
  std::condition_variable wake;
  bool done = false;
  std::thread thread;

  explicit Drain(Receiver<SessionEvent> rx)
      : thread([this, rx = std::move(rx)]() mutable {
          std::unique_lock lock(mutex);
          for (;;) {
            lock.unlock();
            while (rx.try_recv()) {
            }
            lock.lock();
            if (done) return;
            wake.wait_for(lock, std::chrono::milliseconds(1), [this] { return done; });
          }
        }) {}
  ~Drain() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    wake.notify_one();
    thread.join();
  }
};

// parse_line with every event sent over the event channel; the events are freed on the other thread.
void run_handed_over(benchmark::State& state, const Corpus& corpus) {
  if (corpus.lines.empty()) {
    state.SkipWithError("corpus not available");
    return;
  }
  std::int64_t events = 0;
  for (auto _ : state) {
    auto [tx, rx] = channel<SessionEvent>();
    Drain drain(std::move(rx));
    for (const auto& line : corpus.lines) {
      auto result = parse_line(line);
      if (!result) continue;
      events += static_cast<std::int64_t>(result->size());
      for (auto& event : *result) (void)tx.send(std::move(event));
    }
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["events"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}

void BM_ParseLineRealLogs(benchmark::State& state) { run(state, orvik::bench::real_corpus(), parse); }
void BM_ParseLineHandedOverRealLogs(benchmark::State& state) { run_handed_over(state, orvik::bench::real_corpus()); }
void BM_ParseLineHandedOverSynthetic100MB(benchmark::State& state) {
  run_handed_over(state, orvik::bench::synthetic_corpus());
}
void BM_ReaderAloneRealLogs(benchmark::State& state) { run(state, orvik::bench::real_corpus(), read_only); }
void BM_ParseLineSynthetic100MB(benchmark::State& state) { run(state, orvik::bench::synthetic_corpus(), parse); }
void BM_ReaderAloneSynthetic100MB(benchmark::State& state) {
  run(state, orvik::bench::synthetic_corpus(), read_only);
}

BENCHMARK(BM_ParseLineRealLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderAloneRealLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLineSynthetic100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderAloneSynthetic100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLineHandedOverRealLogs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseLineHandedOverSynthetic100MB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
