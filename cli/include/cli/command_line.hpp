#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvik::cli {

// The parsed command line.
struct Run {
  bool detached = false;
  friend bool operator==(const Run&, const Run&) = default;
};
using Commands = std::variant<Run>;

struct Cli {
  std::optional<Commands> command{};  // none when no subcommand was given
  friend bool operator==(const Cli&, const Cli&) = default;
};

// The command definition the parser, the help screens and the usage errors are derived from.
enum class FlagAction { set_true, help, version };

struct Flag {
  std::string id{};
  char short_name = 0;      // 0 when the flag has no short form
  std::string long_name{};  // empty when it has no long form
  std::string help{};
  std::string value_name{};  // carried by the definition; a flag takes no value, so it is never shown
  FlagAction action = FlagAction::set_true;
};

// A positional value; only the built-in help subcommand has one, and only its help screen shows it.
struct Positional {
  std::string value_name{};
  std::string help{};
  bool multiple = false;
};

struct Command {
  std::string name{};
  std::optional<std::string> version{};
  std::string about{};
  std::vector<Flag> flags{};
  std::vector<Positional> positionals{};
  std::vector<Command> subcommands{};
  bool is_help = false;  // the built-in help subcommand: the words after it name the command to describe
};

// A fresh definition of orvik's command line, the built-in help and version entries included.
Command build_cli();

// Text as the parser prints it: runs that are styled when colour is on.
enum class TextStyle { plain, heading, literal, placeholder, error, valid, invalid };

struct StyledPiece {
  TextStyle style = TextStyle::plain;
  std::string text{};
  friend bool operator==(const StyledPiece&, const StyledPiece&) = default;
};
using StyledText = std::vector<StyledPiece>;

// The text, with ANSI styles around the styled runs when `colour` is set.
std::string render(const StyledText& text, bool colour);

enum class Stream { out, err };

// What ends the process inside the parser: help or version (stdout, 0) or a usage error (stderr, 2).
struct CliExit {
  StyledText text{};
  Stream stream = Stream::out;
  int status = 0;
};

using CliOutcome = std::variant<Cli, CliExit>;

// Parses `args` (the program's path first) against `definition`; prints nothing and never exits.
CliOutcome try_parse_cli(const Command& definition, std::span<const std::string> args);

// The environment variables that switch colours on and off; a variable that is not set is none.
struct ColourEnv {
  std::optional<std::string> no_color{}, clicolor{}, clicolor_force{}, term{}, ci{};

  static ColourEnv from_process();
};

// Whether a stream gets colours: only a terminal, unless the environment forces or forbids them.
bool colour_wanted(bool is_terminal, const ColourEnv& env);

// The Jaro similarity of two texts, by characters: 1 when equal, 0 when they have nothing in common.
double jaro(std::string_view a, std::string_view b);

// Parses the process's arguments. Help and version go to stdout with status 0, usage errors to stderr with
// status 2, and the process ends there; a failed write is ignored.
Cli parse_cli(int argc, char** argv);

}  // namespace orvik::cli
