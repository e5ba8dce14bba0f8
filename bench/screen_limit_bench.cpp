// Frames of a square screen of growing side, for the choice of the largest size drawn. The dashboard has its
// events panel full and a running tool call.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "term/terminal.hpp"
#include "ui/tui.hpp"

namespace {

using namespace orvik;
using namespace orvik::session_log;

ui::App make_app() {
  ui::App app;
  const Uuid session = Uuid::new_v4();
  const auto t = now_utc();
  for (int i = 0; i < 500; ++i) {
    const std::string id = "toolu_" + std::to_string(i);
    if (i % 2 == 0)
      ui::push_event(app, {ToolUse{id, "Bash", {{"command", "ctest --output-on-failure -R Reader"}}}, Uuid::new_v4(),
                           session, t, std::nullopt, false});
    else
      ui::push_event(app, {ToolResult{id, "100% tests passed, 0 tests failed out of 59", std::nullopt, false},
                           Uuid::new_v4(), session, t, std::nullopt, false});
  }
  ui::push_event(app, {ToolUse{"toolu_run", "Bash", {{"command", "sleep 100"}}}, Uuid::new_v4(), session, t,
                       std::nullopt, false});
  return app;
}

// What the frames write goes nowhere: only the drawing and the difference count here.
struct Sink {
  int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ~Sink() { ::close(fd); }
};

term::Rect square(const benchmark::State& state) {
  const auto side = static_cast<std::uint16_t>(state.range(0));
  return term::Rect{0, 0, side, side};
}

// A fresh terminal of side × side cells drawing its first frame: what a start at that size costs before the
// first key can be read.
void BM_FirstFrame(benchmark::State& state) {
  auto app = make_app();
  Sink sink;
  for (auto _ : state) {
    auto terminal = term::Terminal::create_fixed(sink.fd, square(state));
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
  }
}
BENCHMARK(BM_FirstFrame)->Arg(200)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Each turn after it: the time one loop turn adds to the wait for a key.
void BM_NextFrame(benchmark::State& state) {
  auto app = make_app();
  Sink sink;
  auto terminal = term::Terminal::create_fixed(sink.fd, square(state));
  (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
  for (auto _ : state) {
    ++app.tick;
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app, now_utc()); });
  }
}
BENCHMARK(BM_NextFrame)->Arg(200)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
