#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "cli/runtime.hpp"
#include "messages.hpp"

int main(int argc, char** argv) {
  // A write to a closed pipe or terminal then fails with an error instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  using namespace orvik::cli;
  int status = 0;
  std::optional<std::string> fatal;
  try {
    status = exit_status(start_runtime(argc, argv));
  } catch (const FatalError& e) {
    fatal = e.message;
  } catch (const std::exception& e) {
    fatal = e.what();
  } catch (...) {
    fatal = msg::unknown_exception;
  }
  if (fatal) {
    const std::string report = fatal_report(*fatal);
    std::fwrite(report.data(), 1, report.size(), stderr);
    status = EXIT_FATAL;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  // After a dashboard error the watcher thread may still run: end without running static destructors
  // under it.
  std::_Exit(status);
}
