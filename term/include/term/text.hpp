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

// Draws `line` from (x, y), at most `max_width` cells; returns the column after the last cell written.
std::uint16_t set_line(Buffer& buf, std::uint16_t x, std::uint16_t y, const Line& line, std::uint16_t max_width);

}  // namespace orvik::term
