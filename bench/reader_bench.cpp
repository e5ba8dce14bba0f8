// read_raw_record over the real agent logs and over a 100 MB synthetic log, in MB/s of line bytes.
#include <benchmark/benchmark.h>

#include "corpus.hpp"
#include "session_log/raw.hpp"

namespace {

using orvik::bench::Corpus;
using orvik::bench::real_corpus;
using orvik::bench::synthetic_corpus;
using orvik::session_log::read_raw_record;

void run(benchmark::State& state, const Corpus& corpus) {
  if (corpus.lines.empty()) {
    state.SkipWithError("corpus not available");
    return;
  }
  std::int64_t rejected = 0;
  for (auto _ : state) {
    for (const auto& line : corpus.lines) {
      auto record = read_raw_record(line);
      rejected += !record.has_value();
      benchmark::DoNotOptimize(record);
    }
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["lines"] = static_cast<double>(corpus.lines.size());
  state.counters["rejected"] = static_cast<double>(rejected) / static_cast<double>(state.iterations());
}

void BM_ReadRawRecordRealLogs(benchmark::State& state) { run(state, real_corpus()); }
void BM_ReadRawRecordSynthetic100MB(benchmark::State& state) { run(state, synthetic_corpus()); }

BENCHMARK(BM_ReadRawRecordRealLogs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRawRecordSynthetic100MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
