// For trying the dashboard by hand: runs run_tui fed by a made-up agent session (tool calls, thinking,
// replies and heartbeats) instead of the real logs. q or Esc ends it.
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/tui.hpp"

namespace {

using namespace orvik::session_log;
using orvik::base::channel;
using orvik::base::Sender;
using namespace std::chrono_literals;

// Sends one made-up turn after another until the dashboard lets go of the channel.
void feed(Sender<SessionEvent> tx) {
  const Uuid session = Uuid::new_v4();
  const char* tools[] = {"Read", "Bash", "Grep", "Edit", "Write"};
  auto send = [&](EventKind kind, bool sidechain = false) {
    return tx.send(SessionEvent{std::move(kind), Uuid::new_v4(), session, now_utc(), std::nullopt, sidechain});
  };
  auto pause = [&](std::chrono::milliseconds d) {
    for (auto left = d; left > 0ms; left -= 200ms) {
      std::this_thread::sleep_for(std::min(left, 200ms));
      if (!tx.send(make_heartbeat())) return false;
    }
    return true;
  };
  for (std::uint64_t turn = 0;; ++turn) {
    const std::string id = "toolu_" + std::to_string(turn);
    const char* tool = tools[turn % 5];
    if (!send(User{"Turn " + std::to_string(turn) + ": please look at the failing test and fix it"})) return;
    if (!pause(600ms)) return;
    if (!send(Thinking{"The failure comes from the trailing comma, so I will read the reader first", std::nullopt}))
      return;
    if (!send(ToolUse{id, tool, {{"file_path", "/src/reader.cpp"}, {"limit", 200}}}, turn % 3 == 0)) return;
    if (!pause(1500ms)) return;
    if (!send(ToolResult{id, "   1  #include \"reader.hpp\"\n   2  ...", std::nullopt, turn % 7 == 6})) return;
    if (!send(Assistant{TokenUsage{20000 + 9000 * (turn % 20), 800, 40000, 900},
                        "I found it: the reader skipped the comma check after the last member.",
                        "msg_" + std::to_string(turn)}))
      return;
    if (!pause(900ms)) return;
  }
}

}  // namespace

int main() {
  auto [tx, rx] = channel<SessionEvent>();
  std::thread feeder(feed, std::move(tx));
  const auto result = orvik::ui::run_tui(std::move(rx));
  feeder.join();
  if (!result) {
    std::fprintf(stderr, "Error: %s\n", result.error().message.c_str());
    return 1;
  }
  return 0;
}
