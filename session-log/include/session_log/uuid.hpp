#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::session_log {

// A 16-byte UUID.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // All sixteen bytes zero.
  static Uuid nil() { return {}; }
  // A random version-4 UUID from the operating system's random source.
  static Uuid new_v4();
  // Reads exactly one of the four text forms: 32 hex digits, 8-4-4-4-12, that form in braces,
  // or that form after "urn:uuid:". Hex digits in either case; nothing before or after.
  static std::optional<Uuid> parse(std::string_view text);

  bool is_nil() const;
  // The lower-case hyphenated form.
  std::string to_string() const;

  friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace orvik::session_log

template <>
struct std::hash<orvik::session_log::Uuid> {
  std::size_t operator()(const orvik::session_log::Uuid& id) const noexcept {
    std::uint64_t a = 0, b = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      a = (a << 8) | id.bytes[i];
      b = (b << 8) | id.bytes[i + 8];
    }
    return static_cast<std::size_t>(a ^ (b * 0x9e3779b97f4a7c15ULL));
  }
};
