#include "cli/command_line.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "child_process.hpp"

namespace orvik::cli {
namespace {

namespace fs = std::filesystem;
using child::Launch;

// The environment of every probe run: no terminal variables, so nothing may turn colour on by accident.
const std::vector<std::string> plain_env = {"PATH=/usr/bin:/bin"};

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
      out += text[++i] == 'n' ? '\n' : '\\';
    } else {
      out += text[i];
    }
  }
  return out;
}

struct VectorCase {
  std::vector<std::string> argv;
  int status = 0;
  std::string stream, expected, source;
};

std::vector<VectorCase> read_vectors() {
  std::ifstream in(TEST_DATA_DIR "/cli_cases.tsv");
  std::map<std::string, std::string, std::less<>> named;
  std::vector<VectorCase> cases;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream cols(line);
    for (std::string f; std::getline(cols, f, '\t');) fields.push_back(f);
    if (line[0] == '=') {
      named[fields.at(0).substr(1)] = unescape(fields.at(1));
      continue;
    }
    const auto& expected = fields.at(3);
    cases.push_back({words(fields.at(0)), std::stoi(fields.at(1)), fields.at(2),
                     expected[0] == '@' ? named.at(expected.substr(1)) : unescape(expected), fields.at(4)});
  }
  return cases;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The plain text the parser prints for `args`, or "PARSED" with the mapping when it hands the line on.
std::string outcome(std::vector<std::string> args) {
  auto result = try_parse_cli(build_cli(), args);
  if (auto* exit = std::get_if<CliExit>(&result))
    return std::to_string(exit->status) + (exit->stream == Stream::out ? " out\n" : " err\n") +
           render(exit->text, false);
  const auto& cli = std::get<Cli>(result);
  return cli.command ? std::get<cli::Run>(*cli.command).detached ? "PARSED detached" : "PARSED run" : "PARSED none";
}

void check_vectors(const std::string& program, bool parsed_cases) {
  const auto cases = read_vectors();
  ASSERT_GE(cases.size(), 30u);
  for (const auto& c : cases) {
    if (!parsed_cases && c.expected.starts_with("PARSED")) continue;
    const auto bin = fs::path(c.argv[0]).filename().string();
    const auto ran = child::run({.path = program, .argv = c.argv, .env = plain_env});
    const auto expected = replace_all(c.expected, "{bin}", bin);
    EXPECT_EQ(ran.status, c.status) << c.source;
    EXPECT_EQ(c.stream == "stdout" ? ran.out : ran.err, expected) << c.source;
    EXPECT_EQ(c.stream == "stdout" ? ran.err : ran.out, "") << c.source;
  }
}

TEST(CommandLine, VectorsAgainstTheBuiltProgram) { check_vectors(CLI_PROBE, true); }

#ifdef ORVIK_BIN
// The program itself, for every line that ends before the dashboard would start.
TEST(CommandLine, VectorsAgainstOrvik) { check_vectors(ORVIK_BIN, false); }
#endif

TEST(CommandLine, MapsTheLineToWhatRuns) {
  const struct {
    std::vector<std::string> args;
    Cli expected;
  } cases[] = {
      {{"orvik"}, Cli{}},
      {{"orvik", "run"}, Cli{cli::Run{false}}},
      {{"orvik", "run", "-d"}, Cli{cli::Run{true}}},
      {{"orvik", "run", "--detached"}, Cli{cli::Run{true}}},
      {{"orvik", "--"}, Cli{}},
      {{}, Cli{}},  // no program path at all
  };
  for (const auto& c : cases) {
    auto result = try_parse_cli(build_cli(), c.args);
    ASSERT_TRUE(std::holds_alternative<Cli>(result)) << ::testing::PrintToString(c.args);
    EXPECT_EQ(std::get<Cli>(result), c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(CommandLine, ProgramNameInUsageLines) {
  const struct {
    std::string argv0, shown;
  } cases[] = {
      {"obs", "obs"},         {"/usr/local/bin/obs", "obs"},
      {"some/dir/", "dir"},   {"a/./", "a"},
      {"", "orvik"},          {"/", "orvik"},
      {"x/..", "orvik"},      {"./", "orvik"},
      {"bad\xff/obs", "obs"}, {"obs\xff", "orvik"},  // the file name itself is not UTF-8
  };
  for (const auto& c : cases)
    EXPECT_EQ(outcome({c.argv0, "run", "extra"}),
              "2 err\nerror: unexpected argument 'extra' found\n\nUsage: " + c.shown +
                  " run [OPTIONS]\n\nFor more information, try '--help'.\n")
        << c.argv0;
}

TEST(CommandLine, StartedThroughALinkNamedObs) {
  const auto dir = fs::path(::testing::TempDir()) / ("cli_link_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::create_symlink(CLI_PROBE, dir / "obs");
  const auto link = (dir / "obs").string();
  const auto help = child::run({.path = link, .argv = {link, "--help"}, .env = plain_env});
  EXPECT_NE(help.out.find("\nUsage: obs [COMMAND]\n"), std::string::npos) << help.out;
  const auto version = child::run({.path = link, .argv = {link, "-V"}, .env = plain_env});
  EXPECT_EQ(version.out, "orvik 0.1.0\n");
  fs::remove_all(dir);
}

std::string error_text(std::string message, std::string tip, std::string usage) {
  return "2 err\nerror: " + message + (tip.empty() ? "" : "\n\n  tip: " + tip) + "\n\nUsage: orvik " + usage +
         "\n\nFor more information, try '--help'.\n";
}

TEST(CommandLine, UsageErrorsBeyondTheListedOnes) {
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{"orvik", "run", "-dd"},
       error_text("the argument '--detached' cannot be used multiple times", "", "run [OPTIONS]")},
      {{"orvik", "run", "-dx"}, error_text("unexpected argument '-x' found", "", "run [OPTIONS]")},
      {{"orvik", "run", "-d=yes"}, error_text("unexpected argument '-=' found", "", "run [OPTIONS]")},
      {{"orvik", "run", "-d\xff"}, error_text("unexpected argument '-\uFFFD' found", "", "run [OPTIONS]")},
      {{"orvik", "run", "--detach=yes"},
       error_text("unexpected argument '--detach' found", "a similar argument exists: '--detached'", "run --detached")},
      {{"orvik", "run", "-d", "--bogus"}, error_text("unexpected argument '--bogus' found", "", "run --detached")},
      {{"orvik", "run", "--hlep"},
       error_text("unexpected argument '--hlep' found", "a similar argument exists: '--help'", "run --help")},
      {{"orvik", "--verison"},
       error_text("unexpected argument '--verison' found", "a similar argument exists: '--version'", "--version")},
      {{"orvik", "--help=x"},
       error_text("unexpected value 'x' for '--help' found; no more were expected", "", "--help")},
      {{"orvik", "--=x"}, error_text("unexpected argument '--=x' found", "", "[COMMAND]")},
      {{"orvik", "--detach", "x", "run"},
       error_text("unexpected argument '--detach' found", "'run --detached' exists", "[COMMAND]")},
      {{"orvik", "hlep"},
       error_text("unrecognized subcommand 'hlep'", "a similar subcommand exists: 'help'", "[COMMAND]")},
      {{"orvik", "-"}, error_text("unrecognized subcommand '-'", "", "[COMMAND]")},
      {{"orvik", "\xff"}, error_text("unrecognized subcommand '\uFFFD'", "", "[COMMAND]")},
      {{"orvik", "--", "run"},
       error_text("unexpected argument '-- run' found", "subcommand 'run' exists; to use it, remove the '--' before it",
                  "[COMMAND]")},
      {{"orvik", "run", "help"}, error_text("unexpected argument 'help' found", "", "run [OPTIONS]")},
      {{"orvik", "help", "run", "x"}, error_text("unrecognized subcommand 'x'", "", "run [OPTIONS]")},
      {{"orvik", "help", "help", "run"}, error_text("unrecognized subcommand 'run'", "", "help [COMMAND]...")},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(c.args), c.expected) << ::testing::PrintToString(c.args);
}

TEST(CommandLine, FirstHelpOrErrorOnTheLineWins) {
  const auto top_help = outcome({"orvik", "--help"});
  const auto run_help = outcome({"orvik", "run", "--help"});
  EXPECT_EQ(outcome({"orvik", "-hV"}), top_help);
  EXPECT_EQ(outcome({"orvik", "-h", "foo"}), top_help);
  EXPECT_EQ(outcome({"orvik", "run", "-dh"}), run_help);
  EXPECT_EQ(outcome({"orvik", "run", "--help", "-d", "-d"}), run_help);
  EXPECT_EQ(outcome({"orvik", "-Vh"}), "0 out\norvik 0.1.0\n");
  EXPECT_EQ(outcome({"orvik", "foo", "-h"}).substr(0, 6), "2 err\n");
}

TEST(CommandLine, HelpOfTheHelpSubcommand) {
  EXPECT_EQ(outcome({"orvik", "help", "help"}),
            "0 out\n"
            "Print this message or the help of the given subcommand(s)\n\n"
            "Usage: orvik help [COMMAND]...\n\n"
            "Arguments:\n"
            "  [COMMAND]...  Print help for the subcommand(s)\n");
}

TEST(CommandLine, StylesTheRunsOfAnError) {
  auto result = try_parse_cli(build_cli(), std::vector<std::string>{"orvik", "run", "--detach"});
  EXPECT_EQ(render(std::get<CliExit>(result).text, true),
            "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--detach\x1b[0m' found\n\n"
            "  \x1b[32mtip:\x1b[0m a similar argument exists: '\x1b[32m--detached\x1b[0m'\n\n"
            "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1morvik run\x1b[0m \x1b[1m--detached\x1b[0m\n\n"
            "For more information, try '\x1b[1m--help\x1b[0m'.\n");
}

TEST(CommandLine, ColourFollowsTheEnvironment) {
  const struct {
    bool terminal;
    ColourEnv env;
    bool colour;
  } cases[] = {
      {true, {.term = "xterm"}, true},
      {false, {.term = "xterm"}, false},
      {true, {}, false},  // no TERM: nothing says the terminal has colours
      {true, {.term = "dumb"}, false},
      {true, {.no_color = "1", .term = "xterm"}, false},
      {true, {.no_color = "", .term = "xterm"}, true},  // an empty NO_COLOR does not count
      {false, {.no_color = "1", .clicolor_force = "1"}, false},
      {false, {.clicolor_force = "1"}, true},
      {false, {.clicolor_force = "0"}, false},
      {true, {.clicolor = "0", .term = "xterm"}, false},
      {false, {.clicolor = "0", .clicolor_force = "1"}, true},
      {true, {.clicolor = "1", .term = "dumb"}, true},
      {true, {.ci = "true"}, true},
      {false, {.term = "xterm", .ci = "true"}, false},  // CI without a terminal stays plain
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(colour_wanted(cases[i].terminal, cases[i].env), cases[i].colour) << "case " << i;
}

TEST(CommandLine, ColourOnATerminalOnly) {
  std::vector<std::string> env = plain_env;
  env.push_back("TERM=xterm");
  const auto on_terminal = child::run_on_terminal({.path = CLI_PROBE, .argv = {"orvik", "--help"}, .env = env});
  EXPECT_EQ(on_terminal.status, 0);
  EXPECT_NE(on_terminal.out.find("\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1morvik\x1b[0m [COMMAND]"), std::string::npos)
      << on_terminal.out;
  const auto error = child::run_on_terminal({.path = CLI_PROBE, .argv = {"orvik", "runn"}, .env = env});
  EXPECT_EQ(error.status, 2);
  EXPECT_NE(error.out.find("\x1b[1m\x1b[31merror:\x1b[0m unrecognized subcommand '\x1b[33mrunn\x1b[0m'"),
            std::string::npos)
      << error.out;

  const auto piped = child::run({.path = CLI_PROBE, .argv = {"orvik", "--help"}, .env = env});
  EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);

  env.push_back("NO_COLOR=1");
  const auto no_color = child::run_on_terminal({.path = CLI_PROBE, .argv = {"orvik", "--help"}, .env = env});
  EXPECT_NE(no_color.out.find("Usage: orvik [COMMAND]"), std::string::npos) << no_color.out;
  EXPECT_EQ(no_color.out.find('\x1b'), std::string::npos);
}

TEST(CommandLine, FailedWritesKeepTheStatus) {
  const struct {
    std::vector<std::string> argv;
    int status;
  } cases[] = {{{"orvik", "--help"}, 0}, {{"orvik", "-V"}, 0}, {{"orvik", "foo"}, 2}};
  for (const auto& c : cases)
    EXPECT_EQ(child::run({.path = CLI_PROBE, .argv = c.argv, .env = plain_env, .broken_stdout = true}).status, c.status)
        << c.argv[1];
}

TEST(Jaro, KnownSimilarities) {
  const struct {
    std::string_view a, b;
    double expected;
  } cases[] = {
      {"detach", "detached", 0.9167},
      {"Detached", "detached", 0.9167},
      {"RUN", "run", 0.0},
      {"runn", "run", 0.9167},
      {"MARTHA", "MARHTA", 0.9444},
      {"DIXON", "DICKSONX", 0.7667},
      {"", "", 1.0},
      {"a", "", 0.0},
      {"foo", "run", 0.0},
      {"hlep", "help", 0.9167},
      {"ünï", "üni", 0.7778},
  };
  for (const auto& c : cases) EXPECT_NEAR(jaro(c.a, c.b), c.expected, 0.0001) << c.a << " " << c.b;
}

}  // namespace
}  // namespace orvik::cli
