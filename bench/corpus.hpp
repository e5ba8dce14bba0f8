#pragma once
// The log lines the benchmarks read: the real agent logs and a 100 MB synthetic log.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvik::bench {

struct Corpus {
  std::vector<std::string> lines;  // trimmed and not empty, as the watcher hands them over
  std::int64_t bytes = 0;
};

inline void add_file(Corpus& corpus, const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) continue;
    const auto last = line.find_last_not_of(" \t\r\n");
    corpus.lines.push_back(line.substr(first, last - first + 1));
    corpus.bytes += static_cast<std::int64_t>(corpus.lines.back().size());
  }
}

// Empty when the shared folder is absent.
inline const Corpus& real_corpus() {
  static const Corpus corpus = [] {
    Corpus c;
    const std::filesystem::path dir = SHARED_DIR "/corpus/real";
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return c;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.path().extension() == ".jsonl") add_file(c, entry.path());
    }
    return c;
  }();
  return corpus;
}

// Generated once per build folder; the generator is deterministic for a seed and size.
inline const Corpus& synthetic_corpus() {
  static const Corpus corpus = [] {
    Corpus c;
    const std::filesystem::path file = std::filesystem::path(BENCH_DIR) / "corpus-100.jsonl";
    if (!std::filesystem::exists(file)) {
      const std::string command = "python3 " SHARED_DIR "/tools/gen_corpus.py --mb 100 --seed 1 -o " + file.string();
      if (std::system(command.c_str()) != 0) return c;
    }
    add_file(c, file);
    return c;
  }();
  return corpus;
}

}  // namespace orvik::bench
