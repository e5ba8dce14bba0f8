// parse_line over the real agent logs and over a 100 MB synthetic log, beside the reader alone.
#include <benchmark/benchmark.h>

#include "corpus.hpp"
#include "session_log/parse_line.hpp"
#include "session_log/raw.hpp"

namespace {

using namespace orvik::session_log;
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

void BM_ParseLineRealLogs(benchmark::State& state) { run(state, orvik::bench::real_corpus(), parse); }
void BM_ReaderAloneRealLogs(benchmark::State& state) { run(state, orvik::bench::real_corpus(), read_only); }
void BM_ParseLineSynthetic100MB(benchmark::State& state) { run(state, orvik::bench::synthetic_corpus(), parse); }
void BM_ReaderAloneSynthetic100MB(benchmark::State& state) {
  run(state, orvik::bench::synthetic_corpus(), read_only);
}

BENCHMARK(BM_ParseLineRealLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderAloneRealLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLineSynthetic100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderAloneSynthetic100MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
