#include "cli/runtime.hpp"

#include <pthread.h>
#include <sched.h>

#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "cli/command_line.hpp"
#include "cli/launcher.hpp"
#include "cli/watcher.hpp"
#include "messages.hpp"
#include "term/terminal.hpp"
#include "ui/tui.hpp"

namespace orvik::cli {
namespace {

void write_stderr(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

sigset_t all_signals() {
  sigset_t all;
  sigfillset(&all);
  return all;
}

// Blocks `signals` on this thread while alive, so the threads started meanwhile inherit the mask.
class SignalsBlocked {
 public:
  explicit SignalsBlocked(const sigset_t& signals) { pthread_sigmask(SIG_BLOCK, &signals, &saved_); }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace

Result<std::size_t> worker_count(const char* env_value, std::size_t cpus) {
  if (env_value == nullptr) return cpus;
  std::string_view text = env_value;
  std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
  std::size_t count = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() || count == 0)
    return std::unexpected(Error{fmt::format(msg::worker_count_invalid, text), {}});
  return count;
}

std::size_t available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<std::size_t>(CPU_COUNT(&set));
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

struct WorkerPool::State {
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
};

WorkerPool::WorkerPool(std::size_t count) : state_(std::make_unique<State>()) {
  SignalsBlocked blocked(all_signals());
  workers_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    try {
      workers_.emplace_back([state = state_.get()] {
        std::unique_lock lock(state->mutex);
        state->wake.wait(lock, [state] { return state->stopping; });
      });
    } catch (const std::system_error& e) {
      stop();
      throw FatalError{fmt::format(msg::runtime_failed, os_error_text(e.code().value()))};
    }
  }
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() noexcept {
  if (!state_) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
}

std::string error_report(const Error& error) {
  std::string out = fmt::format(msg::error_report, error.message);
  if (error.causes.empty()) return out;
  out += msg::caused_by;
  for (std::size_t i = 0; i < error.causes.size(); ++i) {
    const std::string prefix = error.causes.size() == 1 ? std::string(4, ' ') : fmt::format("{:>5}: ", i);
    const std::string indent(prefix.size(), ' ');
    std::string_view rest = error.causes[i];
    out += prefix;
    for (std::size_t nl; (nl = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(nl + 1)) {
      out.append(rest.substr(0, nl));
      out += '\n';
      out += indent;
    }
    out.append(rest);
    out += '\n';
  }
  return out;
}

std::string fatal_report(const std::string& message) { return fmt::format(msg::fatal_report, message); }

int exit_status(const Result<void>& result) {
  if (result) return 0;
  write_stderr(error_report(result.error()));
  return 1;
}

std::thread spawn_thread(std::move_only_function<void()> body) {
  // Kill signals are left to the dashboard's thread, whose handler hands the terminal back: there no frame
  // can be written after it.
  SignalsBlocked blocked(term::kill_signals());
  try {
    return std::thread([body = std::move(body)]() mutable {
      // The thread's failure is its own: report it here and let the process go on.
      try {
        body();
      } catch (const std::exception& e) {
        write_stderr(fatal_report(e.what()));
      } catch (const FatalError& e) {
        write_stderr(fatal_report(e.message));
      } catch (...) {
        write_stderr(fatal_report(std::string(msg::unknown_exception)));
      }
    });
  } catch (const std::system_error& e) {
    throw FatalError{fmt::format(msg::spawn_failed, os_error_text(e.code().value()))};
  }
}

Result<void> start_runtime(int argc, char** argv) {
  const auto count = worker_count(std::getenv("TOKIO_WORKER_THREADS"), available_cpus());
  if (!count) throw FatalError{count.error().message};
  WorkerPool pool(*count);
  return run_main(argc, argv);
}

Result<void> run_main(int argc, char** argv) {
  const Cli cli = parse_cli(argc, argv);
  if (cli.command && std::get<Run>(*cli.command).detached) return launch_detached();
  return run_in_place();
}

Result<void> run_in_place() {
  return run_in_place_with([](EventSender sender) { watch_sessions(std::move(sender)); },
                           [](EventReceiver receiver) { return ui::run_tui(std::move(receiver)); });
}

}  // namespace orvik::cli
