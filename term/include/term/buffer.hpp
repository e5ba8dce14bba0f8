#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::term {

struct Rect {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;

  std::uint32_t area() const { return std::uint32_t{width} * height; }
  bool empty() const { return width == 0 || height == 0; }
  std::uint16_t left() const { return x; }
  std::uint16_t top() const { return y; }
  // One past the last column and row, clamped to the 16-bit range.
  std::uint16_t right() const;
  std::uint16_t bottom() const;
  // The part of this rectangle that lies inside `other`.
  Rect intersection(Rect other) const;

  friend bool operator==(const Rect&, const Rect&) = default;
};

// The terminal's named colours; Reset is the terminal's default colour.
enum class Color : std::uint8_t { Reset, Black, Red, Green, Yellow, Blue, Magenta, Cyan, Gray, DarkGray, White };

// A foreground colour (or none, which leaves what is there) and bold.
struct Style {
  std::optional<Color> fg{};
  bool bold = false;

  static Style plain() { return {}; }
  static Style with_fg(Color c, bool bold = false) { return Style{c, bold}; }
  // This style laid over `base`: a colour replaces, bold adds.
  Style patched_onto(Style base) const;

  friend bool operator==(const Style&, const Style&) = default;
};

// One screen cell: the text of one grapheme (empty in the cell after a wide one) and its look.
struct Cell {
  std::string symbol = " ";
  Color fg = Color::Reset;
  bool bold = false;

  void set_style(Style style);
  void reset() { *this = Cell{}; }

  friend bool operator==(const Cell&, const Cell&) = default;
};

// A grid of cells covering `area`, row-major.
struct Buffer {
  Rect area;
  std::vector<Cell> cells;

  static Buffer empty(Rect area);

  Cell& at(std::uint16_t x, std::uint16_t y);
  const Cell& at(std::uint16_t x, std::uint16_t y) const;

  // Applies `style` to every cell of `area` (clipped to the buffer).
  void set_style(Rect area, Style style);

  // Writes `text` from (x, y) rightwards, at most `max_width` columns and never past the buffer's right edge.
  // Characters that could act on a terminal are drawn as a visible stand-in; a wide character that does not
  // fit is not drawn. Returns the column after the last cell written.
  std::uint16_t set_stringn(std::uint16_t x, std::uint16_t y, std::string_view text, std::size_t max_width,
                            Style style);

  void reset();
};

// One grapheme cluster as it is drawn: its safe text and its width in cells (1 or 2).
struct Grapheme {
  std::string symbol;
  std::uint16_t width = 1;
};

// Splits UTF-8 text into drawable graphemes. Control and format characters, and anything else without a
// width of its own, become visible stand-ins; invalid UTF-8 becomes U+FFFD.
std::vector<Grapheme> graphemes(std::string_view text);

// The width in cells that `text` takes when drawn.
std::size_t display_width(std::string_view text);

}  // namespace orvik::term
