#pragma once

// Helpers for tests that read a rendered buffer as a picture: its rows as text, and the colours of a row
// as runs of equal style.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "term/buffer.hpp"
#include "term/frame.hpp"

namespace orvik::term::testing {

// The text of row `y` (relative to the buffer's top): each cell's symbol, the hidden cell after a wide
// character skipped, so the row reads as it looks.
inline std::string row(const Buffer& buf, std::uint16_t y) {
  std::string out;
  for (std::uint16_t x = 0; x < buf.area.width; ++x)
    out += buf.at(static_cast<std::uint16_t>(buf.area.x + x), static_cast<std::uint16_t>(buf.area.y + y)).symbol.view();
  return out;
}

inline std::vector<std::string> rows(const Buffer& buf) {
  std::vector<std::string> out;
  for (std::uint16_t y = 0; y < buf.area.height; ++y) out.push_back(row(buf, y));
  return out;
}

// Consecutive cells of one row that look the same.
struct StyleRun {
  std::string text;
  Color fg = Color::Reset;
  bool bold = false;

  friend bool operator==(const StyleRun&, const StyleRun&) = default;
};

inline std::string_view color_name(Color c) {
  switch (c) {
    case Color::Reset: return "Reset";
    case Color::Black: return "Black";
    case Color::Red: return "Red";
    case Color::Green: return "Green";
    case Color::Yellow: return "Yellow";
    case Color::Blue: return "Blue";
    case Color::Magenta: return "Magenta";
    case Color::Cyan: return "Cyan";
    case Color::Gray: return "Gray";
    case Color::DarkGray: return "DarkGray";
    case Color::White: return "White";
  }
  return "?";
}

inline std::ostream& operator<<(std::ostream& os, const StyleRun& r) {
  return os << "{\"" << r.text << "\", " << color_name(r.fg) << (r.bold ? ", bold}" : "}");
}

// Row `y` split into runs of equal colour and weight; a hidden cell belongs to the wide character before it.
inline std::vector<StyleRun> style_runs(const Buffer& buf, std::uint16_t y) {
  std::vector<StyleRun> out;
  for (std::uint16_t x = 0; x < buf.area.width; ++x) {
    const Cell& c = buf.at(static_cast<std::uint16_t>(buf.area.x + x), static_cast<std::uint16_t>(buf.area.y + y));
    if (c.symbol.empty()) continue;
    if (out.empty() || out.back().fg != c.fg || out.back().bold != c.bold)
      out.push_back(StyleRun{std::string(c.symbol.view()), c.fg, c.bold});
    else
      out.back().text += c.symbol.view();
  }
  return out;
}

// The runs of row `y` that are not plain (default colour, not bold): what a test of colours cares about.
inline std::vector<StyleRun> styled_runs(const Buffer& buf, std::uint16_t y) {
  std::vector<StyleRun> out;
  for (auto& r : style_runs(buf, y))
    if (r.fg != Color::Reset || r.bold) out.push_back(std::move(r));
  return out;
}

// Renders `draw(frame, area)` into a fresh width × height buffer at the origin and gives the buffer back.
template <class Draw>
Buffer draw_into(std::uint16_t width, std::uint16_t height, Draw&& draw) {
  auto buf = Buffer::empty(Rect{0, 0, width, height});
  Frame frame{buf};
  draw(frame, buf.area);
  return buf;
}

// Renders one widget over the whole of a fresh width × height buffer.
template <class Widget>
Buffer render_widget(const Widget& widget, std::uint16_t width, std::uint16_t height) {
  return draw_into(width, height, [&](Frame& f, Rect area) { f.render_widget(widget, area); });
}

}  // namespace orvik::term::testing
