// The first frame of a square screen of growing side: what the largest drawn size costs before the first key
// can be read. The dashboard has its events panel full and a running tool call.
#include <sys/mman.h>
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

// A fresh terminal of side × side cells drawing its first frame, and then the frame after it.
void BM_FirstFrame(benchmark::State& state) {
  const auto side = static_cast<std::uint16_t>(state.range(0));
  auto app = make_app();
  const int fd = ::memfd_create("screen_limit_bench", MFD_CLOEXEC);
  off_t bytes = 0;
  for (auto _ : state) {
    auto terminal = term::Terminal::create_fixed(fd, term::Rect{0, 0, side, side});
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app); });
    bytes = ::lseek(fd, 0, SEEK_CUR);
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  ::close(fd);
}
BENCHMARK(BM_FirstFrame)->Arg(200)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_NextFrame(benchmark::State& state) {
  const auto side = static_cast<std::uint16_t>(state.range(0));
  auto app = make_app();
  const int fd = ::memfd_create("screen_limit_bench", MFD_CLOEXEC);
  auto terminal = term::Terminal::create_fixed(fd, term::Rect{0, 0, side, side});
  (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app); });
  for (auto _ : state) {
    ++app.tick;
    (void)terminal.draw([&](term::Frame& f) { ui::draw_frame(f, app); });
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
  }
  ::close(fd);
}
BENCHMARK(BM_NextFrame)->Arg(200)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
