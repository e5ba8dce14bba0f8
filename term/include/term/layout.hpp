#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "term/buffer.hpp"

namespace orvik::term {

struct Constraint {
  enum class Kind : std::uint8_t { Length, Min, Percentage };
  Kind kind;
  std::uint16_t value;
};

inline Constraint Length(std::uint16_t n) { return {Constraint::Kind::Length, n}; }
inline Constraint Min(std::uint16_t n) { return {Constraint::Kind::Min, n}; }
inline Constraint Percentage(std::uint16_t p) { return {Constraint::Kind::Percentage, p}; }

enum class Direction : std::uint8_t { Vertical, Horizontal };

// Splits an area into consecutive parts, no margin, no spacing, packed from the start.
struct Layout {
  Direction direction = Direction::Vertical;
  std::vector<Constraint> constraints;

  static Layout vertical(std::vector<Constraint> constraints) { return {Direction::Vertical, std::move(constraints)}; }
  static Layout horizontal(std::vector<Constraint> constraints) {
    return {Direction::Horizontal, std::move(constraints)};
  }

  // One rectangle per constraint, in order, all inside `area`.
  std::vector<Rect> split(Rect area) const;
};

template <std::size_t N>
std::array<Rect, N> split(const Layout& layout, Rect area) {
  const auto parts = layout.split(area);
  std::array<Rect, N> out{};
  for (std::size_t i = 0; i < N && i < parts.size(); ++i) out[i] = parts[i];
  return out;
}

}  // namespace orvik::term
