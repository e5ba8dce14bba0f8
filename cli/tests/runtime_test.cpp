#include "cli/runtime.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace orvik::cli {
namespace {

using namespace std::chrono_literals;

TEST(ErrorReport, Layout) {
  const struct {
    Error error;
    std::string expected;
  } cases[] = {
      {{"no terminal", {}}, "Error: no terminal\n"},
      {{"could not determine orvik executable path", {"No such file or directory (os error 2)"}},
       "Error: could not determine orvik executable path\n"
       "\n"
       "Caused by:\n"
       "    No such file or directory (os error 2)\n"},
      {{"outer", {"middle", "inner"}},
       "Error: outer\n"
       "\n"
       "Caused by:\n"
       "    0: middle\n"
       "    1: inner\n"},
      // Continuation lines line up with the text of the cause's first line.
      {{"outer", {"first\nsecond"}},
       "Error: outer\n"
       "\n"
       "Caused by:\n"
       "    first\n"
       "    second\n"},
      {{"outer", {"a\nb\nc", "d"}},
       "Error: outer\n"
       "\n"
       "Caused by:\n"
       "    0: a\n"
       "       b\n"
       "       c\n"
       "    1: d\n"},
      // The message itself is written as it is.
      {{"two\nlines", {}}, "Error: two\nlines\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_report(c.error), c.expected) << c.error.message;
}

TEST(ErrorReport, NumbersStayRightAligned) {
  Error error{"outer", std::vector<std::string>(11, "x")};
  const std::string report = error_report(error);
  EXPECT_NE(report.find("\n    9: x\n   10: x\n"), std::string::npos) << report;
}

TEST(ExitStatus, ErrorIsReportedOnStderrWithStatusOne) {
  testing::internal::CaptureStderr();
  const int ok = exit_status(Result<void>{});
  const int failed = exit_status(std::unexpected(Error{"boom", {"why"}}));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(err, "Error: boom\n\nCaused by:\n    why\n");
}

TEST(WorkerCount, Rule) {
  const struct {
    const char* value;
    std::size_t expected;  // 0: rejected
  } cases[] = {
      {nullptr, 6},  {"1", 1},   {"4", 4},     {"+4", 4},    {"0", 0},  {"", 0},   {"abc", 0},
      {"-1", 0},     {" 4", 0},  {"4 ", 0},    {"4.0", 0},   {"+", 0},  {"0x4", 0}, {"4abc", 0},
      {"99999999999999999999999", 0},
  };
  for (const auto& c : cases) {
    const auto count = worker_count(c.value, 6);
    const char* shown = c.value ? c.value : "(unset)";
    if (c.expected == 0) {
      ASSERT_FALSE(count) << shown;
      EXPECT_EQ(count.error().message.find("TOKIO_WORKER_THREADS must be a whole number above zero"), 0u)
          << count.error().message;
    } else {
      ASSERT_TRUE(count) << shown;
      EXPECT_EQ(*count, c.expected) << shown;
    }
  }
  EXPECT_EQ(worker_count("abc", 6).error().message,
            "TOKIO_WORKER_THREADS must be a whole number above zero, not \"abc\"");
}

TEST(WorkerCount, AvailableCpusIsAtLeastOne) { EXPECT_GE(available_cpus(), 1u); }

std::size_t thread_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

TEST(WorkerPool, StartsItsThreadsAndJoinsThemAtTheEnd) {
  const std::size_t before = thread_count();
  {
    WorkerPool pool(5);
    EXPECT_EQ(pool.size(), 5u);
    EXPECT_EQ(thread_count(), before + 5);
  }
  EXPECT_EQ(thread_count(), before);
}

// Runs `body` in a child process whose address space cannot grow by a thread's stack; the child's
// exit code is 0 when `body` returns true. The C library keeps a few stacks of ended threads for reuse,
// so a body must start more threads than that cache holds before one fails.
template <class Body>
bool in_child_without_room_for_threads(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::ifstream status("/proc/self/status");
    std::string line;
    rlim_t vm_kib = 0;
    while (std::getline(status, line))
      if (line.starts_with("VmSize:")) vm_kib = std::stoull(line.substr(7));
    const rlimit limit{(vm_kib + 1024) * 1024, (vm_kib + 1024) * 1024};
    setrlimit(RLIMIT_AS, &limit);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "the sanitizer's own mappings need the address space"
#else
#define SKIP_UNDER_ASAN() (void)0
#endif

TEST(WorkerPool, ThreadFailureIsFatalWithTheSystemsError) {
  SKIP_UNDER_ASAN();
  EXPECT_TRUE(in_child_without_room_for_threads([] {
    try {
      WorkerPool pool(64);
    } catch (const FatalError& e) {
      return e.message == "Failed building the Runtime: Resource temporarily unavailable (os error 11)";
    }
    return false;
  }));
}

TEST(SpawnThread, FailureIsFatalWithTheSystemsError) {
  SKIP_UNDER_ASAN();
  EXPECT_TRUE(in_child_without_room_for_threads([] {
    try {
      for (int i = 0; i < 64; ++i) spawn_thread([] { std::this_thread::sleep_for(10s); }).detach();
    } catch (const FatalError& e) {
      return e.message == "failed to spawn thread: Resource temporarily unavailable (os error 11)";
    }
    return false;
  }));
}

TEST(SpawnThread, AnExceptionInTheThreadIsReportedAndEndsOnlyThatThread) {
  testing::internal::CaptureStderr();
  spawn_thread([] { throw std::runtime_error("watcher broke"); }).join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "fatal error: watcher broke\n");
}

// Kill signals reach the dashboard's thread, whose handler hands the terminal back; the thread started for the
// watcher blocks them and nothing else, and the starting thread's own mask is as it was.
TEST(SpawnThread, TheThreadLeavesKillSignalsToTheOthers) {
  sigset_t before, inside, after;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  spawn_thread([&inside] { pthread_sigmask(SIG_SETMASK, nullptr, &inside); }).join();
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) EXPECT_TRUE(sigismember(&inside, sig)) << sig;
  for (int sig : {SIGWINCH, SIGSEGV, SIGABRT, SIGCHLD})
    EXPECT_EQ(sigismember(&inside, sig), sigismember(&before, sig)) << sig;
  for (int sig = 1; sig < NSIG; ++sig) EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
}

// A watcher that sends until the dashboard has gone, as the real one does with its heartbeats.
struct CountingWatcher {
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
  void operator()(EventSender sender) const {
    while (sender.send(session_log::SessionEvent{session_log::Heartbeat{}, {}, {}, {}, {}, false})) {
      std::this_thread::sleep_for(5ms);
    }
    ended->store(true);
  }
};

TEST(RunInPlace, AfterASuccessfulDashboardTheWatcherIsJoined) {
  CountingWatcher watcher;
  bool received = false;
  const auto outcome = run_in_place_with(watcher, [&](EventReceiver receiver) -> Result<void> {
    for (int i = 0; i < 400 && !received; ++i) {
      received = receiver.recv_timeout(10ms).index() == 0;
    }
    return {};
  });
  EXPECT_TRUE(outcome);
  EXPECT_TRUE(received) << "the watcher's events reach the dashboard";
  EXPECT_TRUE(watcher.ended->load()) << "returned before the watcher thread ended";
}

TEST(RunInPlace, AfterADashboardErrorTheErrorIsReturnedWithoutWaiting) {
  auto release = std::make_shared<std::promise<void>>();
  auto released = std::make_shared<std::shared_future<void>>(release->get_future().share());
  auto ended = std::make_shared<std::atomic<bool>>(false);
  const auto outcome = run_in_place_with(
      [released, ended](EventSender) {
        released->wait();  // ends only when the test says so
        ended->store(true);
      },
      [](EventReceiver) -> Result<void> { return std::unexpected(Error{"terminal gone", {"cause"}}); });
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().message, "terminal gone");
  EXPECT_EQ(outcome.error().causes, std::vector<std::string>{"cause"});
  EXPECT_FALSE(ended->load());
  release->set_value();
  for (int i = 0; i < 500 && !ended->load(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_TRUE(ended->load());
}

TEST(RunInPlace, AnExceptionFromTheDashboardLeavesTheWatcherRunning) {
  CountingWatcher watcher;
  EXPECT_THROW(run_in_place_with(watcher, [](EventReceiver) -> Result<void> { throw FatalError{"x"}; }),
               FatalError);
  for (int i = 0; i < 500 && !watcher.ended->load(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_TRUE(watcher.ended->load()) << "the watcher ends once the receiving end is gone";
}

}  // namespace
}  // namespace orvik::cli
