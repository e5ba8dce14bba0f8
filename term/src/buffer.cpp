#include "term/buffer.hpp"

#include <utf8proc.h>

#include <algorithm>

namespace orvik::term {

std::uint16_t Rect::right() const { return static_cast<std::uint16_t>(std::min<std::uint32_t>(x + width, 0xffff)); }
std::uint16_t Rect::bottom() const { return static_cast<std::uint16_t>(std::min<std::uint32_t>(y + height, 0xffff)); }

Rect Rect::intersection(Rect other) const {
  const auto x1 = std::max(left(), other.left());
  const auto y1 = std::max(top(), other.top());
  const auto x2 = std::min(right(), other.right());
  const auto y2 = std::min(bottom(), other.bottom());
  if (x2 <= x1 || y2 <= y1) return Rect{x1, y1, 0, 0};
  return Rect{x1, y1, static_cast<std::uint16_t>(x2 - x1), static_cast<std::uint16_t>(y2 - y1)};
}

Style Style::patched_onto(Style base) const { return Style{fg ? fg : base.fg, bold || base.bold}; }

void Cell::set_style(Style style) {
  if (style.fg) fg = *style.fg;
  if (style.bold) bold = true;
}

Buffer Buffer::empty(Rect area) { return Buffer{area, std::vector<Cell>(area.area())}; }

Cell& Buffer::at(std::uint16_t x, std::uint16_t y) {
  return cells[std::size_t{static_cast<std::uint16_t>(y - area.y)} * area.width + (x - area.x)];
}

const Cell& Buffer::at(std::uint16_t x, std::uint16_t y) const {
  return cells[std::size_t{static_cast<std::uint16_t>(y - area.y)} * area.width + (x - area.x)];
}

void Buffer::set_style(Rect r, Style style) {
  if (!style.fg && !style.bold) return;  // the default style changes nothing
  const Rect clip = r.intersection(area);
  for (std::uint16_t y = clip.top(); y < clip.bottom(); ++y)
    for (std::uint16_t x = clip.left(); x < clip.right(); ++x) at(x, y).set_style(style);
}

void Buffer::reset() {
  for (auto& c : cells) c.reset();
}

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t max_joined = 4;

void append_utf8(std::string& out, utf8proc_int32_t cp) {
  utf8proc_uint8_t bytes[4];
  const auto n = utf8proc_encode_char(cp, bytes);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
}

// What a character that must not reach the terminal is drawn as.
utf8proc_int32_t stand_in(utf8proc_int32_t cp) {
  if (cp < 0x20) return 0x2400 + cp;  // control pictures: ␀ … ␟
  if (cp == 0x7f) return 0x2421;      // ␡
  return 0xfffd;
}

bool is_unsafe(utf8proc_int32_t cp) {
  switch (utf8proc_category(cp)) {
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

// Calls `emit(symbol, width)` for each grapheme of `text`, in order, with its safe text, until it returns
// false; builds nothing, so a long text cut early costs little.
template <class Emit>
void each_grapheme(std::string_view text, Emit&& emit) {
  std::string symbol;
  std::uint16_t width = 0;
  auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto remaining = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t prev = -1;
  utf8proc_int32_t state = 0;
  std::size_t joined = 0;  // characters joined to the current grapheme's first one
  while (remaining > 0) {
    utf8proc_int32_t cp = 0;
    auto n = utf8proc_iterate(p, remaining, &cp);
    if (n <= 0) {
      cp = 0xfffd;
      n = 1;
    }
    p += n;
    remaining -= n;
    // Printable ASCII needs no table: it is safe, one cell wide, and never joins printable ASCII before it.
    const bool ascii = cp >= 0x20 && cp < 0x7f;
    const bool unsafe = !ascii && is_unsafe(cp);
    const bool joins =
        !unsafe && prev >= 0 && !(ascii && prev < 0x7f) && !utf8proc_grapheme_break_stateful(prev, cp, &state);
    if (joins) {
      // Marks piled on one base can reach into the rows above and below; a few are enough for any script.
      if (joined < max_joined) append_utf8(symbol, cp);
      ++joined;
      prev = cp;
      continue;
    }
    if (width > 0 && !emit(symbol, width)) return;
    symbol.clear();
    joined = 0;
    state = 0;
    width = 1;
    if (unsafe) {
      append_utf8(symbol, stand_in(cp));
      prev = -1;  // nothing joins a stand-in
    } else {
      const int w = ascii ? 1 : utf8proc_charwidth(cp);
      if (w <= 0) {
        symbol = replacement;  // a mark with nothing to sit on
        prev = -1;
      } else {
        append_utf8(symbol, cp);
        width = static_cast<std::uint16_t>(std::min(w, 2));
        prev = cp;
      }
    }
  }
  if (width > 0) emit(symbol, width);
}

}  // namespace

std::uint16_t Buffer::set_stringn(std::uint16_t x, std::uint16_t y, std::string_view text, std::size_t max_width,
                                  Style style) {
  if (y < area.top() || y >= area.bottom() || x < area.left()) return x;
  const std::size_t limit = std::min<std::size_t>(max_width, area.right() > x ? area.right() - x : 0);
  std::size_t used = 0;
  each_grapheme(text, [&](const std::string& symbol, std::uint16_t width) {
    if (used + width > limit) return false;  // what follows a character that does not fit is not drawn either
    const auto col = static_cast<std::uint16_t>(x + used);
    Cell& cell = at(col, y);
    cell.symbol = symbol;
    cell.set_style(style);
    for (std::uint16_t i = 1; i < width; ++i) {
      Cell& hidden = at(static_cast<std::uint16_t>(col + i), y);
      hidden.symbol.clear();
      hidden.set_style(style);
    }
    used += width;
    return true;
  });
  return static_cast<std::uint16_t>(x + used);
}

std::vector<Grapheme> graphemes(std::string_view text) {
  std::vector<Grapheme> out;
  each_grapheme(text, [&](const std::string& symbol, std::uint16_t width) {
    out.push_back(Grapheme{symbol, width});
    return true;
  });
  return out;
}

std::size_t display_width(std::string_view text) {
  std::size_t total = 0;
  each_grapheme(text, [&](const std::string&, std::uint16_t width) {
    total += width;
    return true;
  });
  return total;
}

}  // namespace orvik::term
