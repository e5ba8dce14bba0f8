#include "usage_text.hpp"

#include <cstdlib>

namespace orvik::cli {
namespace usage_text {
namespace {

struct Entry {
  StyledText name{};
  std::size_t width = 0;
  std::string help{};
};

// A help section: its heading, then one entry a line with the help texts two columns after the widest name.
void add_section(StyledText& t, std::string_view heading, const std::vector<Entry>& entries) {
  if (entries.empty()) return;
  std::size_t widest = 0;
  for (const auto& e : entries) widest = std::max(widest, e.width);
  add(t, TextStyle::plain, "\n\n");
  add(t, TextStyle::heading, heading);
  for (const auto& e : entries) {
    add(t, TextStyle::plain, "\n  ");
    add(t, e.name);
    add(t, TextStyle::plain, std::string(widest - e.width + 2, ' ') + e.help);
  }
}

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string_view sgr(TextStyle style) {
  switch (style) {
    case TextStyle::plain:
    case TextStyle::placeholder:
      return "";
    case TextStyle::heading:
      return "\x1b[1m\x1b[4m";
    case TextStyle::literal:
      return "\x1b[1m";
    case TextStyle::error:
      return "\x1b[1m\x1b[31m";
    case TextStyle::valid:
      return "\x1b[32m";
    case TextStyle::invalid:
      return "\x1b[33m";
  }
  return "";
}

}  // namespace

StyledText usage(const Command& cmd, const std::string& name, const std::vector<std::string>& used) {
  StyledText t;
  add(t, TextStyle::heading, msg::usage_heading);
  add(t, TextStyle::plain, " ");
  add(t, TextStyle::literal, name);
  if (!used.empty()) {
    std::vector<std::string> shown;
    for (const auto& id : used) {
      const Flag* flag = find_flag(cmd, id, &Flag::id);
      if (!flag || std::ranges::find(shown, id) != shown.end()) continue;
      shown.push_back(id);
      add(t, TextStyle::plain, " ");
      add(t, TextStyle::literal, flag_name(*flag));
    }
    return t;
  }
  if (std::ranges::any_of(cmd.flags, [](const Flag& f) { return f.action == FlagAction::set_true; })) {
    add(t, TextStyle::plain, " ");
    add(t, TextStyle::placeholder, msg::options_placeholder);
  }
  for (const auto& p : cmd.positionals) {
    add(t, TextStyle::plain, " ");
    add(t, TextStyle::placeholder, positional_name(p));
  }
  if (!cmd.subcommands.empty()) {
    add(t, TextStyle::plain, " ");
    add(t, TextStyle::placeholder, msg::command_placeholder);
  }
  return t;
}

StyledText help_screen(const Command& cmd, const std::string& name) {
  StyledText t;
  if (!cmd.about.empty()) add(t, TextStyle::plain, cmd.about + "\n\n");
  add(t, usage(cmd, name, {}));

  std::vector<Entry> commands, arguments, options;
  for (const auto& sub : cmd.subcommands) commands.push_back({{literal(sub.name)}, sub.name.size(), sub.about});
  for (const auto& p : cmd.positionals) {
    auto shown = positional_name(p);
    arguments.push_back({{{TextStyle::placeholder, shown}}, shown.size(), p.help});
  }
  for (const auto& f : cmd.flags) {
    Entry e{.help = f.help};
    if (f.short_name) e.name.push_back(literal(std::string{'-', f.short_name}));
    if (!f.long_name.empty()) {
      add(e.name, TextStyle::plain, f.short_name ? ", " : "    ");
      e.name.push_back(literal("--" + f.long_name));
    }
    for (const auto& piece : e.name) e.width += piece.text.size();
    options.push_back(std::move(e));
  }
  add_section(t, msg::commands_heading, commands);
  add_section(t, msg::arguments_heading, arguments);
  add_section(t, msg::options_heading, options);
  add(t, TextStyle::plain, "\n");
  return t;
}

CliExit report(const UsageError& e) {
  StyledText t;
  add(t, TextStyle::error, msg::error_label);
  add(t, TextStyle::plain, " ");
  add(t, e.message);
  const auto tip = [&](std::string_view lead) {
    add(t, TextStyle::plain, lead);
    add(t, TextStyle::valid, msg::tip_label);
    add(t, TextStyle::plain, " ");
  };
  const auto quoted = [&](std::string name) {
    add(t, TextStyle::plain, "'");
    t.push_back(valid(std::move(name)));
    add(t, TextStyle::plain, "'");
  };
  bool suggested = false;
  if (!e.similar_subcommands.empty()) {
    tip("\n\n  ");
    add(t, TextStyle::plain, e.similar_subcommands.size() == 1 ? msg::similar_subcommand : msg::similar_subcommands);
    for (std::size_t i = 0; i < e.similar_subcommands.size(); ++i) {
      if (i) add(t, TextStyle::plain, ", ");
      quoted(e.similar_subcommands[i]);
    }
    suggested = true;
  }
  if (e.similar_argument) {
    tip(suggested ? "\n  " : "\n\n  ");
    add(t, TextStyle::plain, msg::similar_argument);
    quoted(*e.similar_argument);
    suggested = true;
  }
  for (std::size_t i = 0; i < e.tips.size(); ++i) {
    tip(i == 0 && !suggested ? "\n\n  " : "\n  ");
    add(t, e.tips[i]);
  }
  add(t, TextStyle::plain, "\n\n");
  add(t, e.usage);
  add(t, TextStyle::plain, "\n\n");
  add(t, fill(msg::more_information, literal("--help")));
  add(t, TextStyle::plain, "\n");
  return {std::move(t), Stream::err, 2};
}

}  // namespace usage_text

using namespace usage_text;

std::string render(const StyledText& text, bool colour) {
  std::string out;
  for (const auto& piece : text) {
    const auto on = colour ? sgr(piece.style) : "";
    if (piece.text.empty()) continue;
    out += on;
    out += piece.text;
    if (!on.empty()) out += "\x1b[0m";
  }
  return out;
}

ColourEnv ColourEnv::from_process() {
  return {env("NO_COLOR"), env("CLICOLOR"), env("CLICOLOR_FORCE"), env("TERM"), env("CI")};
}

bool colour_wanted(bool is_terminal, const ColourEnv& e) {
  if (e.no_color && !e.no_color->empty()) return false;
  if (e.clicolor_force && *e.clicolor_force != "0") return true;
  if (e.clicolor && *e.clicolor == "0") return false;
  const bool clicolor_on = e.clicolor.has_value();
  const bool term_has_colour = e.term && *e.term != "dumb";
  return is_terminal && (term_has_colour || clicolor_on || e.ci.has_value());
}

}  // namespace orvik::cli
