#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::cli {

// Decodes the character at `pos` and moves past it. An ill-formed sequence yields nothing and is skipped as a
// whole maximal subpart (at least one byte), so a run of bad bytes stays one U+FFFD per subpart.
inline std::optional<char32_t> next_char(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++pos;
    return std::nullopt;
  }
  char32_t c = b0 & (0xFF >> (len + 1));
  for (std::size_t i = 1; i < len; ++i) {
    const bool ok =
        pos + i < s.size() && byte(pos + i) >= (i == 1 ? lo : 0x80) && byte(pos + i) <= (i == 1 ? hi : 0xBF);
    if (!ok) {
      pos += i;
      return std::nullopt;
    }
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  pos += len;
  return c;
}

inline bool is_utf8(std::string_view s) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    // Logs are mostly ASCII: take eight bytes at a time while they are.
    while (pos + 8 <= s.size()) {
      std::uint64_t word;
      std::memcpy(&word, s.data() + pos, 8);
      if (word & 0x8080808080808080ull) break;
      pos += 8;
    }
    if (pos < s.size() && !next_char(s, pos)) return false;
  }
  return true;
}

// The text with every ill-formed subpart replaced by U+FFFD.
inline std::string utf8_lossy(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    if (next_char(s, pos))
      out.append(s.substr(start, pos - start));
    else
      out += "\xEF\xBF\xBD";
  }
  return out;
}

}  // namespace orvik::cli
