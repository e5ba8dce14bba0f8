#pragma once

#include <string>
#include <string_view>

namespace orvik::base {

// Whether `c` has the Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f || c == 0x205f || c == 0x3000;
}

// `s` without the White_Space characters at both ends. Bytes that are not UTF-8 are no white space: the trim
// stops at them.
std::string_view trim_white_space(std::string_view s);

// The rules for text bound for a terminal, kept once: the drawn cells and the lines on stderr follow them.
// A character that could act on the terminal or hide what follows it (C0, DEL, C1, format characters such
// as the bidirectional overrides, line and paragraph separators, surrogates and unassigned code points) is
// never written; its stand-in is.
bool is_terminal_unsafe(char32_t c);

// What an unsafe character is shown as: a control picture for C0 (␀ … ␟) and DEL (␡), else U+FFFD.
constexpr char32_t terminal_stand_in(char32_t c) {
  if (c < 0x20) return 0x2400 + c;
  if (c == 0x7f) return 0x2421;
  return 0xfffd;
}

// `s` made safe for a terminal: every ill-formed subpart becomes U+FFFD and every unsafe character its
// stand-in, but for a zero width joiner between two pictographs, which joins them into one emoji as drawn.
std::string terminal_safe(std::string_view s);

}  // namespace orvik::base
