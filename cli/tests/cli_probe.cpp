// Test driver: parses its command line like the program does and prints the outcome as one line, or, with
// ORVIK_PROBE_LAUNCH set, runs the detached launcher.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/command_line.hpp"
#include "cli/launcher.hpp"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // as the program does before anything else
  if (const char* launch = std::getenv("ORVIK_PROBE_LAUNCH"); launch && *launch) {
    auto launched = orvik::cli::launch_detached();
    if (launched) return 0;
    std::fprintf(stderr, "ERROR: %s\n", launched.error().message.c_str());
    for (const auto& cause : launched.error().causes) std::fprintf(stderr, "CAUSE: %s\n", cause.c_str());
    return 1;
  }
  const auto cli = orvik::cli::parse_cli(argc, argv);
  if (!cli.command)
    std::puts("PARSED Cli { command: None }");
  else
    std::printf("PARSED Cli { command: Some(Run { detached: %s }) }\n",
                std::get<orvik::cli::Run>(*cli.command).detached ? "true" : "false");
  return 0;
}
