#include "term/text.hpp"

namespace orvik::term {

std::size_t Line::width() const {
  std::size_t total = 0;
  for (const auto& span : spans) total += display_width(span.content);
  return total;
}

std::uint16_t set_line(Buffer& buf, std::uint16_t x, std::uint16_t y, const Line& line, std::uint16_t max_width) {
  std::uint16_t col = x;
  for (const auto& span : line.spans) {
    const auto used = static_cast<std::uint16_t>(col - x);
    if (used >= max_width) break;
    const auto remaining = static_cast<std::uint16_t>(max_width - used);
    const auto next = buf.set_stringn(col, y, span.content, remaining, span.style.patched_onto(line.style));
    const auto drawn = static_cast<std::uint16_t>(next - col);
    col = next;
    // A wide character that did not fit leaves one cell free; a later span must not slip into it, or the
    // line would read as if that character were not there.
    if (remaining - drawn == 1 && display_width(span.content) > drawn) break;
  }
  return col;
}

}  // namespace orvik::term
