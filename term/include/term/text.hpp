#pragma once

#include <string>
#include <vector>

#include "term/buffer.hpp"

namespace orvik::term {

// A text with one style.
struct Span {
  std::string content{};
  Style style{};
};

// One screen line of spans, with a style under all of them.
struct Line {
  std::vector<Span> spans{};
  Style style{};

  // Cells the line takes when drawn.
  std::size_t width() const;
};

// Whether `c` has the Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f || c == 0x205f || c == 0x3000;
}

// Draws `line` from (x, y), at most `max_width` cells; returns the column after the last cell written.
std::uint16_t set_line(Buffer& buf, std::uint16_t x, std::uint16_t y, const Line& line, std::uint16_t max_width);

}  // namespace orvik::term
