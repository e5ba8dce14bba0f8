#pragma once

#include <type_traits>
#include <utility>

namespace orvik::term {

// Bit sets spelled as scoped enums: an enum opts in with `template <> inline constexpr bool is_flags<E> = true;`
// and gets |, &, |= and the tests below, while staying apart from plain integers and from other sets.
template <class E>
inline constexpr bool is_flags = false;

template <class E>
concept Flags = std::is_enum_v<E> && is_flags<E>;

template <Flags E>
constexpr E operator|(E a, E b) {
  return static_cast<E>(std::to_underlying(a) | std::to_underlying(b));
}

template <Flags E>
constexpr E operator&(E a, E b) {
  return static_cast<E>(std::to_underlying(a) & std::to_underlying(b));
}

template <Flags E>
constexpr E& operator|=(E& a, E b) {
  return a = a | b;
}

// Whether `set` holds every flag of `flags`.
template <Flags E>
constexpr bool contains(E set, E flags) {
  return (set & flags) == flags;
}

// Whether `set` holds any flag at all.
template <Flags E>
constexpr bool any(E set) {
  return std::to_underlying(set) != 0;
}

}  // namespace orvik::term
