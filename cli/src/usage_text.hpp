#pragma once

// The texts the command line prints: its messages, the help screens and the usage errors.

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"

namespace orvik::cli::usage_text {

namespace msg {
inline constexpr std::string_view about = "Observability for Claude Code agentic runs";
inline constexpr std::string_view run_about = "Watch live Claude Code session events in the terminal (default)";
inline constexpr std::string_view detached_help = "Open Orvik in a new terminal window instead of the current one";
inline constexpr std::string_view help_flag_help = "Print help";
inline constexpr std::string_view version_flag_help = "Print version";
inline constexpr std::string_view help_command_about = "Print this message or the help of the given subcommand(s)";
inline constexpr std::string_view help_command_value = "Print help for the subcommand(s)";

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
}  // namespace msg

inline void add(StyledText& t, TextStyle style, std::string_view text) { t.push_back({style, std::string(text)}); }

inline void add(StyledText& t, const StyledText& more) { t.insert(t.end(), more.begin(), more.end()); }

// The pattern with each "{}" filled by the next piece, in order.
inline StyledText fill(std::string_view pattern, std::initializer_list<StyledPiece> pieces) {
  StyledText out;
  auto piece = pieces.begin();
  for (std::size_t hole; piece != pieces.end() && (hole = pattern.find("{}")) != std::string_view::npos;) {
    add(out, TextStyle::plain, pattern.substr(0, hole));
    out.push_back(*piece++);
    pattern.remove_prefix(hole + 2);
  }
  add(out, TextStyle::plain, pattern);
  return out;
}

inline StyledPiece invalid(std::string text) { return {TextStyle::invalid, std::move(text)}; }
inline StyledPiece valid(std::string text) { return {TextStyle::valid, std::move(text)}; }
inline StyledPiece literal(std::string text) { return {TextStyle::literal, std::move(text)}; }

inline std::string flag_name(const Flag& flag) {
  return flag.long_name.empty() ? std::string{'-', flag.short_name} : "--" + flag.long_name;
}

inline std::string positional_name(const Positional& p) { return "[" + p.value_name + "]" + (p.multiple ? "..." : ""); }

inline const Command* find_subcommand(const Command& cmd, std::string_view name) {
  auto it = std::ranges::find(cmd.subcommands, name, &Command::name);
  return it == cmd.subcommands.end() ? nullptr : &*it;
}

inline const Flag* find_flag(const Command& cmd, auto key, auto proj) {
  auto it = std::ranges::find(cmd.flags, key, proj);
  return it == cmd.flags.end() ? nullptr : &*it;
}

// The usage line; it names the flags in `used` in place of the generic form when the error concerns them.
StyledText usage(const Command& cmd, const std::string& name, const std::vector<std::string>& used);

// The help screen of `cmd`, shown as `name` ("orvik run").
StyledText help_screen(const Command& cmd, const std::string& name);

struct UsageError {
  StyledText message{};
  std::vector<std::string> similar_subcommands{};
  std::optional<std::string> similar_argument{};
  std::vector<StyledText> tips{};
  StyledText usage{};
};

// The error as printed on stderr, with status 2.
CliExit report(const UsageError& e);

}  // namespace orvik::cli::usage_text
