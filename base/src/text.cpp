#include "base/text.hpp"

#include <utf8proc.h>

#include "base/utf8.hpp"

namespace orvik::base {

namespace {

constexpr char32_t zwj = 0x200d;

bool is_pictographic(char32_t c) {
  return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass ==
         UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC;
}

// What may close an emoji before a joiner: the pictograph itself, its skin tone or its presentation selector.
bool ends_emoji(char32_t c) { return is_pictographic(c) || (c >= 0x1f3fb && c <= 0x1f3ff) || c == 0xfe0f; }

}  // namespace

std::string_view trim_white_space(std::string_view s) {
  while (!s.empty()) {
    std::size_t end = 0;
    const auto c = next_char(s, end);
    if (!c || !is_white_space(*c)) break;
    s.remove_prefix(end);
  }
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xc0) == 0x80) --start;
    std::size_t end = start;
    const auto c = next_char(s, end);
    if (!c || end != s.size() || !is_white_space(*c)) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

bool is_terminal_unsafe(char32_t c) {
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    default:
      return false;
  }
}

std::string terminal_safe(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  char32_t prev = 0;  // the last character written as itself, or 0
  for (std::size_t pos = 0; pos < s.size();) {
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b >= 0x20 && b < 0x7f) {
      out += static_cast<char>(b);
      prev = b;
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const auto c = next_char(s, pos);
    if (!c) {
      append_utf8(out, 0xfffd);
      prev = 0;
    } else if (!is_terminal_unsafe(*c)) {
      out.append(s, start, pos - start);
      prev = *c;
    } else if (*c == zwj && prev != 0 && ends_emoji(prev) && [&] {
                 std::size_t next = pos;
                 const auto after = next < s.size() ? next_char(s, next) : std::nullopt;
                 return after && is_pictographic(*after);
               }()) {
      out.append(s, start, pos - start);
      prev = *c;
    } else {
      append_utf8(out, terminal_stand_in(*c));
      prev = 0;
    }
  }
  return out;
}

}  // namespace orvik::base
