#include "cli/command_line.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "base/fd.hpp"
#include "base/utf8.hpp"
#include "usage_text.hpp"
#include "version.hpp"

namespace orvik::cli {
namespace {

using namespace usage_text;

// Names whose similarity to `word` is above 0.7, least similar first.
std::vector<std::string> all_similar(const std::string& word, const std::vector<std::string>& names) {
  std::vector<std::pair<double, std::string>> close;
  for (const auto& n : names)
    if (const double score = jaro(word, n); score > 0.7) close.emplace_back(score, n);
  std::ranges::stable_sort(close, {}, &std::pair<double, std::string>::first);
  std::vector<std::string> out;
  for (auto& c : close) out.push_back(std::move(c.second));
  return out;
}

std::optional<std::string> most_similar(const std::string& word, const std::vector<std::string>& names) {
  auto close = all_similar(word, names);
  if (close.empty()) return std::nullopt;
  return close.back();
}

// The built-in entries every command gets: help (and version where the command has one) after its own
// flags, and a help subcommand after the subcommands of a command that has any.
void add_builtins(Command& cmd) {
  for (auto& sub : cmd.subcommands) add_builtins(sub);
  cmd.flags.push_back({.id = "help",
                       .short_name = 'h',
                       .long_name = "help",
                       .help = std::string(msg::help_flag_help),
                       .action = FlagAction::help});
  if (cmd.version)
    cmd.flags.push_back({.id = "version",
                         .short_name = 'V',
                         .long_name = "version",
                         .help = std::string(msg::version_flag_help),
                         .action = FlagAction::version});
  if (!cmd.subcommands.empty())
    cmd.subcommands.push_back({.name = "help",
                               .about = std::string(msg::help_command_about),
                               .positionals = {{"COMMAND", std::string(msg::help_command_value), true}},
                               .is_help = true});
}

// What the parser collected for one command.
struct Matches {
  std::vector<std::string> present{};  // ids of the flags given, in order
  std::string subcommand{};            // empty when none was given
  std::vector<Matches> sub{};          // the subcommand's own matches, when there is one
};

using Parsed = std::variant<Matches, CliExit>;

struct CommandParser {
  const Command& cmd;
  std::string name{};  // the command as the usage line shows it: "orvik run"
  Matches m;

  bool given(const std::string& id) const { return std::ranges::find(m.present, id) != m.present.end(); }

  // An error whose message names one offending word, under this command's usual usage line.
  CliExit refuse(Pattern<1> message, std::string word) const {
    return report({.message = fill(message, invalid(std::move(word))), .usage = usage(cmd, name, {})});
  }

  std::optional<CliExit> react(const Flag& flag) {
    switch (flag.action) {
      case FlagAction::help:
        return CliExit{help_screen(cmd, name), Stream::out, 0};
      case FlagAction::version:
        return CliExit{{{TextStyle::plain, cmd.name + " " + cmd.version.value_or("") + "\n"}}, Stream::out, 0};
      case FlagAction::set_true:
        if (given(flag.id)) return refuse(msg::used_multiple_times, flag_name(flag));
        m.present.push_back(flag.id);
        return std::nullopt;
    }
    return std::nullopt;
  }

  std::optional<CliExit> long_flag(std::string_view body, std::span<const std::string> rest) {
    const auto eq = body.find('=');
    const auto key = body.substr(0, eq);
    if (key.empty())  // "--=value" names no flag at all
      return refuse(msg::unexpected_argument, "--" + base::utf8_lossy(body));
    if (const Flag* flag = find_flag(cmd, key, &Flag::long_name)) {
      if (eq == std::string_view::npos) return react(*flag);
      auto used = m.present;
      used.push_back(flag->id);
      return report({.message = fill(msg::unexpected_value, invalid(base::utf8_lossy(body.substr(eq + 1))),
                                     literal(flag_name(*flag))),
                     .usage = usage(cmd, name, used)});
    }
    return unknown_long(base::utf8_lossy(key), rest);
  }

  // A long flag this command lacks: suggest a close one of its own, else one of a subcommand named later on.
  CliExit unknown_long(const std::string& key, std::span<const std::string> rest) {
    UsageError e{.message = fill(msg::unexpected_argument, invalid("--" + key))};
    auto used = m.present;
    if (auto close = most_similar(key, long_names(cmd))) {
      e.similar_argument = "--" + *close;
      used.push_back(find_flag(cmd, *close, &Flag::long_name)->id);
    } else {
      std::optional<std::pair<std::size_t, std::string>> best;  // position of the subcommand on the line
      for (const auto& sub : cmd.subcommands) {
        auto close_of_sub = most_similar(key, long_names(sub));
        auto at = std::ranges::find(rest, sub.name);
        if (!close_of_sub || at == rest.end()) continue;
        const auto pos = static_cast<std::size_t>(at - rest.begin());
        if (!best || pos < best->first) best = {pos, sub.name + " --" + *close_of_sub};
      }
      if (best) e.tips.push_back(fill(msg::flag_of_subcommand, valid(best->second)));
    }
    e.usage = usage(cmd, name, used);
    return report(e);
  }

  static std::vector<std::string> long_names(const Command& c) {
    std::vector<std::string> names;
    for (const auto& f : c.flags)
      if (!f.long_name.empty()) names.push_back(f.long_name);
    return names;
  }

  std::optional<CliExit> short_flags(std::string_view body) {
    for (std::size_t pos = 0; pos < body.size();) {
      const auto start = pos;
      const auto c = base::next_char(body, pos);
      const Flag* flag = c && *c < 0x80 ? find_flag(cmd, static_cast<char>(*c), &Flag::short_name) : nullptr;
      if (!flag) {
        // Past a byte that is not UTF-8 the rest of the cluster is shown as one word.
        auto shown = c ? std::string(body.substr(start, pos - start)) : base::utf8_lossy(body.substr(start));
        return refuse(msg::unexpected_argument, "-" + shown);
      }
      if (auto exit = react(*flag)) return exit;
    }
    return std::nullopt;
  }

  // A word where only a subcommand, or nothing, may stand.
  CliExit stray_word(const std::string& arg, bool after_double_dash) const {
    const auto word = base::utf8_lossy(arg);
    if (after_double_dash && find_subcommand(cmd, arg))
      return report({.message = fill(msg::unexpected_argument, invalid("-- " + word)),
                     .tips = {fill(msg::needless_double_dash, valid(word), invalid("--"))},
                     .usage = usage(cmd, name, {})});
    if (!cmd.subcommands.empty()) {
      std::vector<std::string> names;
      for (const auto& sub : cmd.subcommands) names.push_back(sub.name);
      return report({.message = fill(msg::unrecognized_subcommand, invalid(word)),
                     .similar_subcommands = all_similar(word, names),
                     .usage = usage(cmd, name, {})});
    }
    return refuse(msg::unexpected_argument, word);
  }
};

// The help subcommand: the words after it walk down to the command whose help is shown.
CliExit describe(const Command& top, const std::string& top_name, std::span<const std::string> words) {
  const Command* cmd = &top;
  std::string name = top_name;
  for (const auto& word : words) {
    const Command* sub = find_subcommand(*cmd, word);
    if (!sub)
      return report({.message = fill(msg::unrecognized_subcommand, invalid(base::utf8_lossy(word))),
                     .usage = usage(*cmd, name, {})});
    name += " " + sub->name;
    cmd = sub;
  }
  return {help_screen(*cmd, name), Stream::out, 0};
}

Parsed parse_command(const Command& cmd, const std::string& name, std::span<const std::string> args) {
  CommandParser p{cmd, name, {}};
  bool after_double_dash = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto rest = args.subspan(i + 1);
    if (!after_double_dash) {
      if (const Command* sub = find_subcommand(cmd, arg)) {
        if (sub->is_help) return describe(cmd, name, rest);
        auto inner = parse_command(*sub, name + " " + sub->name, rest);
        if (auto* exit = std::get_if<CliExit>(&inner)) return std::move(*exit);
        p.m.subcommand = sub->name;
        p.m.sub.push_back(std::get<Matches>(std::move(inner)));
        return std::move(p.m);
      }
      if (arg == "--") {
        after_double_dash = true;
        continue;
      }
      std::optional<CliExit> exit;
      if (arg.starts_with("--")) {
        exit = p.long_flag(std::string_view(arg).substr(2), rest);
      } else if (arg.size() > 1 && arg[0] == '-') {
        exit = p.short_flags(std::string_view(arg).substr(1));
      } else {
        exit = p.stray_word(arg, false);
      }
      if (exit) return std::move(*exit);
      continue;
    }
    return p.stray_word(arg, true);
  }
  return std::move(p.m);
}

// The last component of a path, as a path library names it: none for "", "/", "." or a path ending in "..".
std::optional<std::string_view> file_name(std::string_view path) {
  std::optional<std::string_view> last;
  while (!path.empty()) {
    const auto slash = path.find('/');
    const auto part = path.substr(0, slash);
    if (!part.empty() && part != ".") last = part;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  if (last == "..") return std::nullopt;
  return last;
}

std::vector<char32_t> chars(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t pos = 0; pos < s.size();) out.push_back(base::next_char(s, pos).value_or(U'\uFFFD'));
  return out;
}

}  // namespace

double jaro(std::string_view a_text, std::string_view b_text) {
  const auto a = chars(a_text), b = chars(b_text);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  const std::size_t range = std::max<std::size_t>(std::max(a.size(), b.size()) / 2, 1) - 1;
  std::vector<bool> a_matched(a.size()), b_matched(b.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t lo = i > range ? i - range : 0, hi = std::min(b.size(), i + range + 1);
    for (std::size_t j = lo; j < hi; ++j)
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = b_matched[j] = true;
        ++matches;
        break;
      }
  }
  if (matches == 0) return 0.0;
  std::size_t transposed = 0;
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++transposed;
    ++j;
  }
  const double m = static_cast<double>(matches);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
          (m - static_cast<double>(transposed / 2)) / m) /
         3.0;
}

Command build_cli() {
  Command run{.name = "run",
              .about = std::string(msg::run_about),
              .flags = {{.id = "detached",
                         .short_name = 'd',
                         .long_name = "detached",
                         .help = std::string(msg::detached_help),
                         .value_name = "DETACHED"}}};
  Command cli{.name = "orvik", .version = VERSION, .about = std::string(msg::about), .subcommands = {run}};
  add_builtins(cli);
  return cli;
}

CliOutcome try_parse_cli(const Command& definition, std::span<const std::string> args) {
  std::string name = definition.name;
  if (!args.empty())
    if (auto file = file_name(args[0]); file && base::is_utf8(*file)) name = *file;
  auto parsed = parse_command(definition, name, args.empty() ? args : args.subspan(1));
  if (auto* exit = std::get_if<CliExit>(&parsed)) return std::move(*exit);
  const auto& m = std::get<Matches>(parsed);
  Cli cli;
  if (m.subcommand == "run")
    cli.command = Run{std::ranges::find(m.sub[0].present, "detached") != m.sub[0].present.end()};
  return cli;
}

Cli parse_cli(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; argv && i < argc && argv[i]; ++i) args.emplace_back(argv[i]);
  auto outcome = try_parse_cli(build_cli(), args);
  if (auto* cli = std::get_if<Cli>(&outcome)) return *cli;
  const auto& exit = std::get<CliExit>(outcome);
  const int fd = exit.stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO;
  (void)base::write_all(fd, render(exit.text, colour_wanted(::isatty(fd) == 1, ColourEnv::from_process())));
  std::exit(exit.status);
}

}  // namespace orvik::cli
