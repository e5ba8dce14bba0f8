#include "term/widgets.hpp"

#include <algorithm>
#include <cmath>

namespace orvik::term {

namespace {

const Symbol top_left{"╭"}, top_right{"╮"}, bottom_left{"╰"}, bottom_right{"╯"};
const Symbol vertical{"│"}, horizontal{"─"};
const Symbol full_block{"█"};

void put(Buffer& buf, std::uint16_t x, std::uint16_t y, const Symbol& symbol) { buf.at(x, y).symbol = symbol; }

// The area of a widget that may be drawn: what lies inside the buffer.
Rect drawable(Rect area, const Buffer& buf) { return area.intersection(buf.area); }

// Lays the widget's style over its whole area, draws its block if it has one, and gives the area left for
// the content. The style lies under the block too, so one style colours a whole box, border and title.
Rect content_area(Style style, const std::optional<Block>& block, Rect area, Buffer& buf) {
  area = drawable(area, buf);
  buf.set_style(area, style);
  if (!block) return area;
  render(*block, area, buf);
  return inner(*block, area);
}

}  // namespace

Rect inner(const Block& block, Rect area) {
  std::uint16_t x = area.x, y = area.y, w = area.width, h = area.height;
  if (contains(block.borders, Borders::Left) && w > 0) ++x, --w;
  if (contains(block.borders, Borders::Right) && w > 0) --w;
  if (contains(block.borders, Borders::Top) && h > 0) ++y, --h;
  if (contains(block.borders, Borders::Bottom) && h > 0) --h;
  return Rect{x, y, w, h};
}

void render(const Block& block, Rect area, Buffer& buf) {
  area = drawable(area, buf);
  if (area.empty()) return;
  buf.set_style(area, block.style);
  const auto left = area.left(), right = static_cast<std::uint16_t>(area.right() - 1);
  const auto top = area.top(), bottom = static_cast<std::uint16_t>(area.bottom() - 1);
  const bool has_left = contains(block.borders, Borders::Left);
  const bool has_right = contains(block.borders, Borders::Right);
  const bool has_top = contains(block.borders, Borders::Top);
  const bool has_bottom = contains(block.borders, Borders::Bottom);

  // Drawn so that on a box one cell high or wide the top and the left border win.
  if (has_right)
    for (auto y = top; y <= bottom; ++y) put(buf, right, y, vertical);
  if (has_left)
    for (auto y = top; y <= bottom; ++y) put(buf, left, y, vertical);
  if (has_bottom)
    for (auto x = left; x <= right; ++x) put(buf, x, bottom, horizontal);
  if (has_top)
    for (auto x = left; x <= right; ++x) put(buf, x, top, horizontal);
  if (has_bottom && has_right) put(buf, right, bottom, bottom_right);
  if (has_bottom && has_left) put(buf, left, bottom, bottom_left);
  if (has_top && has_right) put(buf, right, top, top_right);
  if (has_top && has_left) put(buf, left, top, top_left);

  if (block.title.empty()) return;
  // The title sits between the corners, never over them.
  const std::uint16_t start = has_left ? static_cast<std::uint16_t>(left + 1) : left;
  const std::uint16_t end = has_right ? right : area.right();
  if (start < end) buf.set_stringn(start, top, block.title, end - start, Style{});
}

void render(const Paragraph& paragraph, Rect area, Buffer& buf) {
  area = content_area(paragraph.style, paragraph.block, area, buf);
  if (area.empty()) return;
  const auto rows = std::min<std::size_t>(paragraph.lines.size(), area.height);
  for (std::size_t i = 0; i < rows; ++i)
    set_line(buf, area.x, static_cast<std::uint16_t>(area.y + i), paragraph.lines[i], area.width);
}

void render(const List& list, Rect area, Buffer& buf) {
  area = content_area(list.style, list.block, area, buf);
  if (area.empty()) return;
  const auto rows = std::min<std::size_t>(list.items.size(), area.height);
  for (std::size_t i = 0; i < rows; ++i) {
    const auto y = static_cast<std::uint16_t>(area.y + i);
    buf.set_style(Rect{area.x, y, area.width, 1}, list.items[i].style);
    set_line(buf, area.x, y, list.items[i].line, area.width);
  }
}

void render(const Gauge& gauge, Rect area, Buffer& buf) {
  area = content_area(gauge.style, gauge.block, area, buf);
  if (area.empty()) return;

  const double ratio = std::isnan(gauge.ratio) ? 0.0 : std::clamp(gauge.ratio, 0.0, 1.0);
  const auto filled = static_cast<std::uint16_t>(std::lround(ratio * area.width));
  const auto label_width = static_cast<std::uint16_t>(std::min<std::size_t>(display_width(gauge.label), area.width));
  const auto label_x = static_cast<std::uint16_t>(area.x + (area.width - label_width) / 2);
  const auto label_y = static_cast<std::uint16_t>(area.y + area.height / 2);

  // The label replaces the bar under it, so it keeps the gauge's own style rather than the bar's colour.
  for (auto y = area.top(); y < area.bottom(); ++y)
    for (auto x = area.left(); x < area.x + filled; ++x) {
      if (y == label_y && x >= label_x && x < label_x + label_width) continue;
      Cell& cell = buf.at(x, y);
      cell.symbol = full_block;
      cell.set_style(gauge.gauge_style);
    }
  buf.set_stringn(label_x, label_y, gauge.label, label_width, Style{});
}

}  // namespace orvik::term
