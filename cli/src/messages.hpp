#pragma once

// Every text the command line, the launcher and the runtime show. Those with "{}" holes are fmt formats,
// checked where they are used, or patterns that usage_text::fill fills with styled pieces.

#include <string_view>

namespace orvik::cli::msg {

// The help screens.
inline constexpr std::string_view about = "Observability for Claude Code agentic runs";
inline constexpr std::string_view run_about = "Watch live Claude Code session events in the terminal (default)";
inline constexpr std::string_view detached_help = "Open Orvik in a new terminal window instead of the current one";
inline constexpr std::string_view help_flag_help = "Print help";
inline constexpr std::string_view version_flag_help = "Print version";
inline constexpr std::string_view help_command_about = "Print this message or the help of the given subcommand(s)";
inline constexpr std::string_view help_command_value = "Print help for the subcommand(s)";
inline constexpr std::string_view usage_heading = "Usage:";
inline constexpr std::string_view commands_heading = "Commands:";
inline constexpr std::string_view arguments_heading = "Arguments:";
inline constexpr std::string_view options_heading = "Options:";
inline constexpr std::string_view options_placeholder = "[OPTIONS]";
inline constexpr std::string_view command_placeholder = "[COMMAND]";

// Usage errors, filled by usage_text::fill.
inline constexpr std::string_view error_label = "error:";
inline constexpr std::string_view tip_label = "tip:";
inline constexpr std::string_view unexpected_argument = "unexpected argument '{}' found";
inline constexpr std::string_view unrecognized_subcommand = "unrecognized subcommand '{}'";
inline constexpr std::string_view used_multiple_times = "the argument '{}' cannot be used multiple times";
inline constexpr std::string_view unexpected_value = "unexpected value '{}' for '{}' found; no more were expected";
inline constexpr std::string_view similar_subcommand = "a similar subcommand exists: ";
inline constexpr std::string_view similar_subcommands = "some similar subcommands exist: ";
inline constexpr std::string_view similar_argument = "a similar argument exists: ";
inline constexpr std::string_view flag_of_subcommand = "'{}' exists";
inline constexpr std::string_view needless_double_dash = "subcommand '{}' exists; to use it, remove the '{}' before it";
inline constexpr std::string_view more_information = "For more information, try '{}'.";

// The launcher.
inline constexpr std::string_view no_executable_path = "could not determine orvik executable path";
inline constexpr std::string_view no_proc = "no /proc/self/exe available. Is /proc mounted?";
inline constexpr std::string_view path_not_utf8 = "executable path is not valid UTF-8";
inline constexpr std::string_view no_terminal =
    "no supported terminal emulator found (tried: {}). Run `orvik run` directly instead.";
inline constexpr std::string_view launched = "Orvik launched in a new {} window.\n";

// The runtime and the reports at exit.
inline constexpr std::string_view runtime_failed = "Failed building the Runtime: {}";
inline constexpr std::string_view spawn_failed = "failed to spawn thread: {}";
inline constexpr std::string_view worker_count_invalid =
    "TOKIO_WORKER_THREADS must be a whole number above zero, not {:?}";
inline constexpr std::string_view error_report = "Error: {}\n";
inline constexpr std::string_view caused_by = "\nCaused by:\n";
inline constexpr std::string_view fatal_report = "fatal error: {}\n";
inline constexpr std::string_view unknown_exception = "unknown exception";

}  // namespace orvik::cli::msg
