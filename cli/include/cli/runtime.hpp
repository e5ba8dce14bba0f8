#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/channel.hpp"
#include "session_log/event.hpp"
#include "base/error.hpp"

namespace orvik::cli {

using EventSender = base::Sender<session_log::SessionEvent>;
using EventReceiver = base::Receiver<session_log::SessionEvent>;

// One of the failures that stop the process at once: the runtime cannot be built or the watcher thread
// cannot be started. main writes `message` as the fatal-error report and exits with status 101.
struct FatalError {
  std::string message;
};

inline constexpr int EXIT_FATAL = 101;

// The idle-worker count: `env_value` (TOKIO_WORKER_THREADS, null when unset) when set, otherwise `cpus`.
// A set value must be a whole number above zero; anything else is an error naming the value.
Result<std::size_t> worker_count(const char* env_value, std::size_t cpus);

// The CPUs this process may run on (its affinity mask), at least 1.
std::size_t available_cpus();

// Idle worker threads, started together and stopped and joined on destruction. Nothing is ever run on
// them; they block every asynchronous signal so that signals reach the main thread.
class WorkerPool {
 public:
  // Throws FatalError "Failed building the Runtime: ..." when a thread cannot be started; the threads
  // started until then are stopped and joined first.
  explicit WorkerPool(std::size_t count);
  WorkerPool(WorkerPool&&) noexcept = default;
  WorkerPool& operator=(WorkerPool&&) = delete;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  std::size_t size() const { return workers_.size(); }

 private:
  struct State;
  void stop() noexcept;

  std::unique_ptr<State> state_;
  std::vector<std::thread> workers_;
};

// The error report written to standard error at exit: "Error: {message}\n", then for causes an empty
// line, "Caused by:" and one line per cause (four spaces with one cause, "{i:>5}: " with several),
// continuation lines of a cause indented to where its text starts.
std::string error_report(const Error& error);

// The one-line fatal-error report.
std::string fatal_report(const std::string& message);

// Writes the error report of a failed result to standard error; the exit status of the result (0 or 1).
int exit_status(const Result<void>& result);

// The process from its entry to the main routine's result: builds the idle worker pool (sized by
// TOKIO_WORKER_THREADS or the CPU count), runs run_main on this thread, stops the pool. Throws FatalError.
Result<void> start_runtime(int argc, char** argv);

// The main routine: reads the command line, then runs the detached launcher or run_in_place.
Result<void> run_main(int argc, char** argv);

// The dashboard in this terminal: the event channel, the watcher thread, run_tui on this thread.
Result<void> run_in_place();

// Starts a thread running `body`, with the kill signals blocked; throws FatalError "failed to spawn
// thread: ..." when it cannot.
std::thread spawn_thread(std::move_only_function<void()> body);

// run_in_place over any watcher and dashboard: `watch` runs on a new thread with the sending end,
// `dashboard` on this one with the receiving end. After a successful dashboard the watcher is joined;
// after an error (or an exception) it is left running and the outcome is returned at once.
template <class Watch, class Dashboard>
Result<void> run_in_place_with(Watch watch, Dashboard dashboard) {
  auto [sender, receiver] = base::channel<session_log::SessionEvent>();
  std::thread watcher = spawn_thread(
      [watch = std::move(watch), sender = std::move(sender)]() mutable { watch(std::move(sender)); });
  Result<void> outcome;
  try {
    outcome = dashboard(std::move(receiver));
  } catch (...) {
    watcher.detach();
    throw;
  }
  if (!outcome) {
    watcher.detach();
    return outcome;
  }
  watcher.join();
  return {};
}

}  // namespace orvik::cli
