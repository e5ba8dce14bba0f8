// The watcher following a 100 MB log that is written while it runs, beside parse_line alone over the same
// lines; and what the watcher costs while nothing happens.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/watcher.hpp"
#include "base/channel.hpp"
#include "session_log/parse_line.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using orvik::session_log::SessionEvent;

const fs::path CORPUS = fs::path(BENCH_DIR) / "corpus-100.jsonl";

// The generated log, made once per build folder.
const std::string* corpus() {
  static const std::optional<std::string> bytes = []() -> std::optional<std::string> {
    if (!fs::exists(CORPUS)) {
      const std::string command =
          "python3 " SHARED_DIR "/tools/gen_corpus.py --mb 100 --seed 1 -o " + CORPUS.string();
      if (std::system(command.c_str()) != 0) return std::nullopt;
    }
    std::ifstream in(CORPUS, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }();
  return bytes ? &*bytes : nullptr;
}

std::vector<std::string_view> lines_of(const std::string& text) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) lines.emplace_back(text.data() + at, end - at);
    at = end + 1;
  }
  return lines;
}

// Each iteration reads `per_iteration` bytes.
void set_bytes_processed(benchmark::State& state, std::size_t per_iteration) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(per_iteration));
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto spent = [](const timeval& t) { return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec); };
  return std::chrono::duration<double>(spent(usage.ru_utime) + spent(usage.ru_stime)).count();
}

double thread_cpu_seconds(std::thread& thread) {
  clockid_t clock;
  timespec t{};
  if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0) return 0;
  if (::clock_gettime(clock, &t) != 0) return 0;
  return std::chrono::duration<double>(std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)).count();
}

// HOME at a fresh ~/.claude/{projects,sessions} with watch_sessions running on it.
struct RunningWatcher {
  fs::path home;
  std::optional<orvik::base::Receiver<SessionEvent>> rx;
  std::thread thread;

  RunningWatcher() {
    std::string name = (fs::path(BENCH_DIR) / "home-XXXXXX").string();
    home = ::mkdtemp(name.data());
    fs::create_directories(home / ".claude" / "projects" / "bench");
    fs::create_directories(home / ".claude" / "sessions");
    ::setenv("HOME", home.c_str(), 1);
    auto [tx, r] = orvik::base::channel<SessionEvent>();
    rx.emplace(std::move(r));
    thread = std::thread(orvik::cli::watch_sessions, std::move(tx));
    // The first Heartbeat comes after the watches are in place.
    while (!std::holds_alternative<SessionEvent>(rx->recv_timeout(10s))) {
    }
  }
  ~RunningWatcher() {
    rx.reset();
    thread.join();
    fs::remove_all(home);
  }
};

void BM_ParseLineAlone(benchmark::State& state) {
  const std::string* text = corpus();
  if (text == nullptr) return state.SkipWithError("could not generate the corpus");
  const auto lines = lines_of(*text);
  for (auto _ : state) {
    std::size_t events = 0;
    for (auto line : lines) {
      if (auto parsed = orvik::session_log::parse_line(line)) events += parsed->size();
    }
    benchmark::DoNotOptimize(events);
  }
  set_bytes_processed(state, text->size());
}
BENCHMARK(BM_ParseLineAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

// Takes events off a channel on a thread of its own, as the dashboard does, until dropped.
struct Drain {
  std::atomic<bool> done{false};
  std::thread thread;

  explicit Drain(orvik::base::Receiver<SessionEvent> rx)
      : thread([this, rx = std::move(rx)]() mutable {
          while (!done) {
            while (rx.try_recv()) {
            }
            std::this_thread::sleep_for(1ms);
          }
        }) {}
  ~Drain() {
    done = true;
    thread.join();
  }
};

// Events handed to another thread cost more than events dropped at once: this is parse_line with the
// sending and the draining of BM_TailFile, without the reading.
void BM_ParseLineIntoChannel(benchmark::State& state) {
  const std::string* text = corpus();
  if (text == nullptr) return state.SkipWithError("could not generate the corpus");
  const auto lines = lines_of(*text);
  for (auto _ : state) {
    auto [tx, rx] = orvik::base::channel<SessionEvent>();
    Drain drain(std::move(rx));
    for (auto line : lines) {
      if (auto parsed = orvik::session_log::parse_line(line)) {
        for (auto& event : *parsed) (void)tx.send(std::move(event));
      }
    }
  }
  set_bytes_processed(state, text->size());
}
BENCHMARK(BM_ParseLineIntoChannel)->Unit(benchmark::kMillisecond)->Iterations(3);

// tail_file alone over the whole log, already on disk: the reading, checking and sending around parse_line,
// with the events drained on another thread as the dashboard does.
void BM_TailFile(benchmark::State& state) {
  const std::string* text = corpus();
  if (text == nullptr) return state.SkipWithError("could not generate the corpus");
  for (auto _ : state) {
    auto [tx, rx] = orvik::base::channel<SessionEvent>();
    Drain drain(std::move(rx));
    orvik::cli::Offsets offsets;
    if (!orvik::cli::tail_file(CORPUS, offsets, tx)) return state.SkipWithError("could not read the corpus");
  }
  set_bytes_processed(state, text->size());
}
BENCHMARK(BM_TailFile)->Unit(benchmark::kMillisecond)->Iterations(3);

// One user record of about `bytes` bytes, without its "\n".
std::string big_record(std::size_t bytes) {
  const std::string head =
      R"({"parentUuid":null,"isSidechain":false,"type":"user","message":{"role":"user","content":[{"type":"text","text":")";
  const std::string tail =
      R"("}]},"uuid":"0b7c7a4e-4d1f-4a39-9a0f-1d2c3b4a5e6f","timestamp":"2025-06-01T10:00:00Z","sessionId":"375f3b0b-4b5b-47b1-8bf7-7344a4fc9828"})";
  std::string text;
  text.reserve(bytes);
  for (std::size_t i = 0; text.size() < bytes; ++i) text += i % 13 == 0 ? "caf\u00e9 \\\"}{ " : "word ";
  return head + text + tail;
}

// A 16 MB line appended in pieces, tail_file after each as the watcher would, against the same line written
// whole: the pieces should cost at most about as much again.
void BM_LineInPieces(benchmark::State& state) {
  const std::string line = big_record(16u << 20) + "\n";
  const auto piece = static_cast<std::size_t>(state.range(0));
  const fs::path log = fs::path(BENCH_DIR) / "pieces.jsonl";
  for (auto _ : state) {
    fs::remove(log);
    auto [tx, rx] = orvik::base::channel<SessionEvent>();
    orvik::cli::Offsets offsets;
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (std::size_t at = 0; at < line.size(); at += piece) {
      const std::size_t n = std::min(piece, line.size() - at);
      if (::write(fd, line.data() + at, n) != static_cast<ssize_t>(n)) break;
      if (!orvik::cli::tail_file(log, offsets, tx)) return state.SkipWithError("could not read the log");
    }
    ::close(fd);
    if (!rx.try_recv()) return state.SkipWithError("the line was not read");
  }
  fs::remove(log);
  set_bytes_processed(state, line.size());
}
BENCHMARK(BM_LineInPieces)->Arg(16 << 20)->Arg(16 << 10)->Unit(benchmark::kMillisecond)->Iterations(1);

// From the first write (its notification follows at once) to the last event taken off the channel.
void BM_CatchUp(benchmark::State& state) {
  const std::string* text = corpus();
  if (text == nullptr) return state.SkipWithError("could not generate the corpus");
  std::size_t expected = 0;
  for (auto line : lines_of(*text)) {
    if (auto parsed = orvik::session_log::parse_line(line)) expected += parsed->size();
  }
  double write_ms = 0, watcher_cpu_ms = 0;
  for (auto _ : state) {
    RunningWatcher watcher;
    const fs::path log = watcher.home / ".claude" / "projects" / "bench" / "s.jsonl";
    const auto began = std::chrono::steady_clock::now();
    const double watcher_cpu_before = thread_cpu_seconds(watcher.thread);
    std::chrono::steady_clock::time_point written;
    std::thread writer([&] {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      constexpr std::size_t CHUNK = 1 << 20;
      for (std::size_t at = 0; at < text->size(); at += CHUNK) {
        const std::size_t n = std::min(CHUNK, text->size() - at);
        if (::write(fd, text->data() + at, n) != static_cast<ssize_t>(n)) break;
      }
      ::close(fd);
      written = std::chrono::steady_clock::now();
    });
    // Drained without waiting, as the dashboard does, so that sends do not wake a sleeping receiver.
    std::size_t received = 0;
    auto last = began;
    const auto give_up = began + 60s;
    while (received < expected && std::chrono::steady_clock::now() < give_up) {
      bool any = false;
      while (auto event = watcher.rx->try_recv()) {
        if (orvik::session_log::is_heartbeat(*event)) continue;
        ++received;
        any = true;
      }
      if (any) {
        last = std::chrono::steady_clock::now();
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
    writer.join();
    if (received != expected) return state.SkipWithError("not every event arrived");
    state.SetIterationTime(std::chrono::duration<double>(last - began).count());
    write_ms += std::chrono::duration<double, std::milli>(written - began).count();
    watcher_cpu_ms += (thread_cpu_seconds(watcher.thread) - watcher_cpu_before) * 1e3;
  }
  // The writer sets the pace; the watcher thread's own CPU time is what following costs.
  state.counters["write_ms"] = benchmark::Counter(write_ms, benchmark::Counter::kAvgIterations);
  state.counters["watcher_cpu_ms"] = benchmark::Counter(watcher_cpu_ms, benchmark::Counter::kAvgIterations);
  set_bytes_processed(state, text->size());
  state.counters["events"] = static_cast<double>(expected);
}
BENCHMARK(BM_CatchUp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Both of the watcher's threads over ten quiet seconds, with nothing else running in the process.
void BM_IdleCpu(benchmark::State& state) {
  for (auto _ : state) {
    RunningWatcher watcher;
    const double before = cpu_seconds();
    std::this_thread::sleep_for(10s);
    const double used = cpu_seconds() - before;
    state.counters["cpu_ms_per_10s"] = used * 1e3;
    state.counters["cpu_percent"] = used / 10.0 * 100.0;
  }
}
BENCHMARK(BM_IdleCpu)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
