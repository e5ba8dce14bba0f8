// One full-screen draw with the events panel full, what the terminal backend writes for the frames of an
// idle dashboard, what one idle turn costs (build the frame, diff it, write it), and a huge screen.
#include <sys/mman.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "term/terminal.hpp"
#include "ui/tui.hpp"

namespace {

using namespace orvik;
using namespace orvik::session_log;

// 500 held events over a few sessions; the newest session has a tool call running, so its spinner turns.
ui::App make_app() {
  ui::App app;
  const Uuid sessions[] = {Uuid::new_v4(), Uuid::new_v4(), Uuid::new_v4()};
  const auto t = now_utc();
  for (int i = 0; i < 600; ++i) {
    const Uuid s = sessions[i % 3];
    const std::string id = "toolu_" + std::to_string(i);
    switch (i % 5) {
      case 0: ui::push_event(app, {User{"Please look at the failing test in the parser and fix it"}, Uuid::new_v4(), s, t, std::nullopt, false}); break;
      case 1: ui::push_event(app, {Thinking{"The failure comes from the trailing comma handling, so first", std::nullopt}, Uuid::new_v4(), s, t, std::nullopt, false}); break;
      case 2: ui::push_event(app, {ToolUse{id, "Bash", {{"command", "ctest --output-on-failure -R Reader"}, {"description", "Run the tests"}}}, Uuid::new_v4(), s, t, std::nullopt, i % 10 == 2}); break;
      case 3: ui::push_event(app, {ToolResult{id, "100% tests passed, 0 tests failed out of 59", std::nullopt, false}, Uuid::new_v4(), s, t, std::nullopt, false}); break;
      case 4: ui::push_event(app, {Assistant{TokenUsage{1200, 300, 40000, 900}, "The parser now rejects the trailing comma with the right position.", "msg_" + std::to_string(i)}, Uuid::new_v4(), s, t, std::nullopt, false}); break;
    }
  }
  const Uuid newest = Uuid::new_v4();
  ui::push_event(app, {User{"one more thing"}, Uuid::new_v4(), newest, t, std::nullopt, false});
  ui::push_event(app, {ToolUse{"toolu_run", "Bash", {{"command", "sleep 100"}}}, Uuid::new_v4(), newest, t, std::nullopt, false});
  return app;
}

constexpr term::Rect SCREEN{0, 0, 200, 60};

void BM_DrawFrame(benchmark::State& state) {
  auto app = make_app();
  auto buf = term::Buffer::empty(SCREEN);
  for (auto _ : state) {
    buf.reset();
    term::Frame frame{buf};
    ui::draw_frame(frame, app, now_utc());
    ++app.tick;
    benchmark::DoNotOptimize(buf.cells.data());
  }
}
BENCHMARK(BM_DrawFrame)->Unit(benchmark::kMicrosecond);

// Bytes the backend writes for the frame drawn after a first one, with the tick advanced by `step`.
void frame_bytes(benchmark::State& state, std::uint64_t step) {
  auto app = make_app();
  const int fd = ::memfd_create("frame_bench", MFD_CLOEXEC);
  auto terminal = term::Terminal::create_fixed(fd, SCREEN);
  auto draw = [&] { (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); }); };
  off_t bytes = 0;
  for (auto _ : state) {
    draw();
    const off_t before = ::lseek(fd, 0, SEEK_CUR);
    app.tick += step;
    draw();
    bytes = ::lseek(fd, 0, SEEK_CUR) - before;
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  ::close(fd);
}

void BM_BytesSpinnerOnly(benchmark::State& state) { frame_bytes(state, 1); }
void BM_BytesNothingChanged(benchmark::State& state) { frame_bytes(state, 0); }
BENCHMARK(BM_BytesSpinnerOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BytesNothingChanged)->Unit(benchmark::kMicrosecond);

// The first frame of a 200 × 60 screen: everything is new.
void BM_BytesFirstFrame(benchmark::State& state) {
  auto app = make_app();
  const int fd = ::memfd_create("frame_bench", MFD_CLOEXEC);
  off_t bytes = 0;
  for (auto _ : state) {
    auto terminal = term::Terminal::create_fixed(fd, SCREEN);
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
    bytes = ::lseek(fd, 0, SEEK_CUR);
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  ::close(fd);
}
BENCHMARK(BM_BytesFirstFrame)->Unit(benchmark::kMicrosecond);

// One turn of the loop as the terminal object runs it: a fresh frame, the draw, the diff and the write.
// Arguments: width, height, and how far the tick moves per turn (0: nothing on screen changes; 1: the
// spinner turns).
void BM_Turn(benchmark::State& state) {
  auto app = make_app();
  const int fd = ::memfd_create("frame_bench", MFD_CLOEXEC);
  const term::Rect screen{0, 0, static_cast<std::uint16_t>(state.range(0)), static_cast<std::uint16_t>(state.range(1))};
  auto terminal = term::Terminal::create_fixed(fd, screen);
  const auto step = static_cast<std::uint64_t>(state.range(2));
  auto draw = [&] { (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); }); };
  draw();
  std::size_t turns = 0;
  for (auto _ : state) {
    app.tick += step;
    draw();
    if (++turns % 4096 == 0) {
      ::ftruncate(fd, 0);
      ::lseek(fd, 0, SEEK_SET);
    }
  }
  ::close(fd);
}
BENCHMARK(BM_Turn)
    ->ArgNames({"w", "h", "tick"})
    ->Args({80, 24, 0})
    ->Args({80, 24, 1})
    ->Args({200, 60, 0})
    ->Args({200, 60, 1})
    ->Unit(benchmark::kMicrosecond);

// A screen of a few million cells: the first frame (everything new) and the next one (the spinner only).
void BM_HugeScreen(benchmark::State& state) {
  auto app = make_app();
  const int fd = ::memfd_create("frame_bench", MFD_CLOEXEC);
  const auto side = static_cast<std::uint16_t>(state.range(0));
  off_t first_bytes = 0;
  for (auto _ : state) {
    auto terminal = term::Terminal::create_fixed(fd, term::Rect{0, 0, side, side});
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
    first_bytes = ::lseek(fd, 0, SEEK_CUR);
    ++app.tick;
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
  }
  state.counters["first_bytes"] = static_cast<double>(first_bytes);
  ::close(fd);
}
BENCHMARK(BM_HugeScreen)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
