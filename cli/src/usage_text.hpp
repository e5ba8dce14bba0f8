#pragma once

// How the command line lays out its texts: the help screens and the usage errors.

#include <algorithm>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "cli/command_line.hpp"
#include "messages.hpp"

namespace orvik::cli::usage_text {

inline void add(StyledText& t, TextStyle style, std::string_view text) { t.push_back({style, std::string(text)}); }

inline void add(StyledText& t, const StyledText& more) { t.insert(t.end(), more.begin(), more.end()); }

// A pattern for fill with exactly `holes` "{}" in it, counted when the program is compiled.
template <std::size_t holes>
struct Pattern {
  std::string_view text;

  template <class S>
    requires std::convertible_to<const S&, std::string_view>
  consteval Pattern(const S& s) : text(s) {
    std::size_t found = 0;
    for (auto at = text.find("{}"); at != std::string_view::npos; at = text.find("{}", at + 2)) ++found;
    if (found != holes) throw "the pattern does not have one \"{}\" for each piece";
  }
};

// The pattern with each "{}" filled by the next piece, in order.
template <class... Pieces>
  requires(std::same_as<Pieces, StyledPiece> && ...)
StyledText fill(std::type_identity_t<Pattern<sizeof...(Pieces)>> pattern, Pieces... pieces) {
  StyledText out;
  std::string_view rest = pattern.text;
  const auto put = [&](StyledPiece piece) {
    const std::size_t hole = rest.find("{}");
    add(out, TextStyle::plain, rest.substr(0, hole));
    out.push_back(std::move(piece));
    rest.remove_prefix(hole + 2);
  };
  (put(std::move(pieces)), ...);
  add(out, TextStyle::plain, rest);
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
