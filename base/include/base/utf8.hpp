#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace orvik::base {

// The one UTF-8 decoder: every caller that takes text apart character by character decodes with it.

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

// Decodes like next_char, but an ill-formed sequence is U+FFFD for its first byte alone: the rule of text that
// is drawn, measured or shown whole, where each stray byte keeps a place of its own.
inline char32_t next_char_or_fffd(std::string_view s, std::size_t& pos) {
  const std::size_t start = pos;
  if (const auto c = next_char(s, pos)) return *c;
  pos = start + 1;
  return 0xfffd;
}

// Writes the UTF-8 form of the scalar value `c` at `out` and returns the end; at most four bytes.
inline char* encode_utf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xc0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xe0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    *out++ = static_cast<char>(0x80 | (c & 0x3f));
  } else {
    *out++ = static_cast<char>(0xf0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    *out++ = static_cast<char>(0x80 | (c & 0x3f));
  }
  return out;
}

inline void append_utf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(encode_utf8(bytes, c) - bytes));
}

enum class Utf8Check { Valid, Truncated, Invalid };

// Moves `pos` past every whole, valid character from there on. Truncated: what is left is the start of a
// character that the end of `s` cuts off, which more bytes may complete.
inline Utf8Check check_utf8(std::string_view s, std::size_t& pos) {
  while (pos < s.size()) {
    // Logs are mostly ASCII: skip sixteen bytes at a time while they are, then to the first byte that is not.
    while (pos + 16 <= s.size()) {
#ifdef __SSE2__
      const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + pos)));
      if (high != 0) {
        pos += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high)));
        break;
      }
#else
      std::uint64_t a, b;
      std::memcpy(&a, s.data() + pos, 8);
      std::memcpy(&b, s.data() + pos + 8, 8);
      if ((a | b) & 0x8080808080808080ull) break;
#endif
      pos += 16;
    }
    const std::size_t stop = std::min(pos + 16, s.size());
    while (pos < stop && static_cast<unsigned char>(s[pos]) < 0x80) ++pos;
    if (pos == stop) continue;
    // Non-ASCII text comes in runs: decode them here rather than probe sixteen bytes after each character.
    do {
      std::size_t next = pos;
      if (!next_char(s, next)) {
        const auto lead = static_cast<unsigned char>(s[pos]);
        return next == s.size() && lead >= 0xC2 && lead <= 0xF4 ? Utf8Check::Truncated : Utf8Check::Invalid;
      }
      pos = next;
    } while (pos < s.size() && static_cast<unsigned char>(s[pos]) >= 0x80);
  }
  return Utf8Check::Valid;
}

inline bool is_utf8(std::string_view s) {
  std::size_t pos = 0;
  return check_utf8(s, pos) == Utf8Check::Valid;
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

}  // namespace orvik::base
