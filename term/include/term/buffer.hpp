#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

// The text of one cell: one grapheme cluster as it is drawn, or nothing (the cell after a wide one), with the
// columns it takes (0, 1 or 2) and its reach: how many columns past those a terminal that counts the
// cluster's code points one by one may still draw. Held inline, so that a cell is eight bytes, needs no heap
// and compares as one word: a frame is swept whole to reset and to diff it. The rarer longer cluster (an
// emoji sequence, marks piled on a letter) is kept once in a table that every buffer shares.
class Symbol {
 public:
  static constexpr std::size_t inline_bytes = 4;  // one code point of any script, or a letter and its mark

  constexpr Symbol() : bytes_{' '}, size_(1), info_(1) {}
  // Any text, taken as one cluster as wide as its first code point (at most 2), with no reach.
  explicit Symbol(std::string_view text);
  Symbol& operator=(std::string_view text) { return *this = Symbol(text); }

  // One printable ASCII character.
  static constexpr Symbol ascii(char c) {
    Symbol s;
    s.bytes_[0] = c;
    return s;
  }
  // The same in place, written as whole words: a cell built byte by byte on the stack and then copied stalls
  // the copy, and ASCII is most of every frame.
  void set_ascii(char c) {
    const std::uint32_t word = static_cast<unsigned char>(c);
    std::memcpy(bytes_.data(), &word, sizeof word);
    size_ = 1;
    info_ = 1;
  }
  // A cluster whose width is known, made or set in place.
  static Symbol cluster(std::string_view bytes, std::uint16_t width, std::uint16_t reach) {
    Symbol s;
    s.assign(bytes, width, reach);
    return s;
  }
  void assign(std::string_view bytes, std::uint16_t width, std::uint16_t reach);

  std::string_view view() const;
  operator std::string_view() const { return view(); }
  std::uint16_t width() const { return info_ & 3u; }
  std::uint16_t reach() const { return static_cast<std::uint16_t>(info_ >> 2); }
  bool empty() const { return size_ == 0; }
  // One byte below 0x80: as wide on every terminal as here.
  bool is_ascii() const { return size_ == 1 && static_cast<unsigned char>(bytes_[0]) < 0x80; }
  void clear() { *this = Symbol(std::string_view{}); }

  friend bool operator==(const Symbol&, const Symbol&) = default;
  friend bool operator==(const Symbol& a, std::string_view b) { return a.view() == b; }

 private:
  static constexpr std::uint8_t interned = 0xff;  // `size_` of a cluster kept in the shared table

  std::array<char, inline_bytes> bytes_{};  // unused bytes are zero, so equal symbols have equal bytes
  std::uint8_t size_ = 0;
  std::uint8_t info_ = 0;  // width in the low 2 bits, reach above
};

std::ostream& operator<<(std::ostream& os, const Symbol& symbol);

// One screen cell: its symbol and its look.
struct Cell {
  Symbol symbol{};
  Color fg = Color::Reset;
  bool bold = false;

  void set_style(Style style) {
    if (style.fg) fg = *style.fg;
    if (style.bold) bold = true;
  }
  void reset() { *this = Cell{}; }

  friend bool operator==(const Cell& a, const Cell& b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
  }
};
static_assert(sizeof(Cell) == 8 && std::is_trivially_copyable_v<Cell>);

// A grid of cells covering `area`, row-major.
struct Buffer {
  Rect area;
  std::vector<Cell> cells;

  static Buffer empty(Rect area);

  Cell& at(std::uint16_t x, std::uint16_t y) {
    return cells[std::size_t{static_cast<std::uint16_t>(y - area.y)} * area.width + (x - area.x)];
  }
  const Cell& at(std::uint16_t x, std::uint16_t y) const {
    return cells[std::size_t{static_cast<std::uint16_t>(y - area.y)} * area.width + (x - area.x)];
  }

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

// Splits UTF-8 text into drawable cells. A cell holds more than one code point only where its width is
// known: marks of no width on a base, and emoji sequences (joined with U+200D, with a skin tone, with the
// emoji presentation selector, or a flag), which are 2 wide; a code point that would add width starts a
// cell of its own. Control and format characters outside such sequences, and anything else without a
// width of its own, become visible stand-ins; invalid UTF-8 becomes U+FFFD.
std::vector<Grapheme> graphemes(std::string_view text);

// The width in cells that `text` takes when drawn.
std::size_t display_width(std::string_view text);

}  // namespace orvik::term
