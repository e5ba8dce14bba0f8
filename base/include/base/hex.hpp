#pragma once

#include <array>
#include <cstdint>

namespace orvik::base {

namespace detail {
inline constexpr std::array<std::int8_t, 256> hex_table = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::int8_t>(c - 'A' + 10);
  return table;
}();
}  // namespace detail

// Looked up rather than tested: every record carries three ids and many escapes.
// The value of one hex digit of either case; -1 for any other byte.
constexpr int hex_value(char c) { return detail::hex_table[static_cast<unsigned char>(c)]; }

}  // namespace orvik::base
