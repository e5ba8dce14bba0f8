#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "term/buffer.hpp"
#include "term/flags.hpp"
#include "term/text.hpp"

namespace orvik::term {

// Every widget is a plain struct with a render() that draws it into an area of a buffer. Drawing
// never fails and never writes outside the area.

enum class Borders : std::uint8_t { None = 0, Top = 1, Bottom = 2, Left = 4, Right = 8, All = 15 };
template <>
inline constexpr bool is_flags<Borders> = true;

// Rounded borders (╭ ╮ ╰ ╯ │ ─) on the chosen sides, a title at the left of the top border in the default
// style, and a style over the whole area.
struct Block {
  std::string title{};
  Borders borders = Borders::All;
  Style style{};
};

// The area inside the block's borders.
Rect inner(const Block& block, Rect area);
void render(const Block& block, Rect area, Buffer& buf);

// Lines from the top of the area, not wrapped, cut at the right; the style covers the whole area, block
// included (as it does for List and Gauge).
struct Paragraph {
  std::vector<Line> lines{};
  Style style{};
  std::optional<Block> block{};
};
void render(const Paragraph& paragraph, Rect area, Buffer& buf);

struct ListItem {
  Line line{};
  Style style{};
};

// Items from the top, one row each, cut at the bottom and at the right.
struct List {
  std::vector<ListItem> items{};
  Style style{};
  std::optional<Block> block{};
};
void render(const List& list, Rect area, Buffer& buf);

// A bar filled for ratio × width cells (rounded to nearest) in `gauge_style`, the label centred on it.
struct Gauge {
  double ratio = 0.0;  // 0..1
  std::string label{};
  Style gauge_style{};
  Style style{};
  std::optional<Block> block{};
};
void render(const Gauge& gauge, Rect area, Buffer& buf);

}  // namespace orvik::term
