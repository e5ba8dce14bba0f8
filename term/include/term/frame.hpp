#pragma once

#include "term/buffer.hpp"

namespace orvik::term {

// What one draw renders into: the buffer of the whole screen.
struct Frame {
  Buffer& buffer;

  Rect area() const { return buffer.area; }
  template <class Widget>
  void render_widget(const Widget& widget, Rect area) {
    render(widget, area, buffer);
  }
};

}  // namespace orvik::term
