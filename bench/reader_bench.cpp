// read_raw_record over the real agent logs and over a 100 MB synthetic log, in MB/s of line bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "session_log/raw.hpp"

namespace {

namespace fs = std::filesystem;
using orvik::session_log::read_raw_record;

struct Corpus {
  std::vector<std::string> lines;
  std::int64_t bytes = 0;
};

void add_file(Corpus& corpus, const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    corpus.bytes += static_cast<std::int64_t>(line.size());
    corpus.lines.push_back(std::move(line));
  }
}

const Corpus& real_corpus() {
  static const Corpus corpus = [] {
    Corpus c;
    const fs::path dir = SHARED_DIR "/corpus/real";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return c;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      if (entry.is_regular_file() && entry.path().extension() == ".jsonl") add_file(c, entry.path());
    return c;
  }();
  return corpus;
}

// Generated once per build folder; the generator is deterministic for a seed and size.
const Corpus& synthetic_corpus() {
  static const Corpus corpus = [] {
    Corpus c;
    const fs::path file = fs::path(BENCH_DIR) / "corpus-100.jsonl";
    if (!fs::exists(file)) {
      const std::string command = "python3 " SHARED_DIR "/tools/gen_corpus.py --mb 100 --seed 1 -o " + file.string();
      if (std::system(command.c_str()) != 0) return c;
    }
    add_file(c, file);
    return c;
  }();
  return corpus;
}

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
