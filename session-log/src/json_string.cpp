// JSON strings: decoded through the line's scratch buffer, or only validated when skipped.
// Agent logs escape a byte in every twenty or so (code, quotes, line feeds), so the plain runs
// between escapes are copied and scanned sixteen bytes at a time.

#include <array>
#include <cstring>

#include "base/hex.hpp"
#include "base/utf8.hpp"
#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

// The byte that a two-character escape stands for; 0 for \u and for letters that begin no escape.
constexpr std::array<char, 256> simple_escapes = [] {
  std::array<char, 256> t{};
  t['"'] = '"';
  t['\\'] = '\\';
  t['/'] = '/';
  t['b'] = '\b';
  t['f'] = '\f';
  t['n'] = '\n';
  t['r'] = '\r';
  t['t'] = '\t';
  return t;
}();

char simple_escape(char c) { return simple_escapes[static_cast<unsigned char>(c)]; }

using base::hex_value;

using base::encode_utf8;

// Four hex digits of a \u escape at r.pos; a bad digit fails just after itself.
bool read_hex4(Reader& r, std::uint32_t& out) {
  if (r.line.size() - r.pos < 4) {
    r.pos = r.line.size();
    return fail_here(r, msg::eof_string);
  }
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) {
    const int d = hex_value(r.line[r.pos++]);
    if (d < 0) return fail_here(r, msg::invalid_escape);
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

// A \u escape at r.pos (after the u), a surrogate pair written as two of them.
bool read_unicode_escape(Reader& r, char*& o) {
  std::uint32_t cp = 0;
  if (!read_hex4(r, cp)) return false;
  if (cp >= 0xdc00 && cp <= 0xdfff) return fail_here(r, msg::lone_leading_surrogate);
  if (cp >= 0xd800 && cp <= 0xdbff) {
    for (const char want : {'\\', 'u'}) {
      if (r.pos == r.line.size()) return fail_here(r, msg::eof_string);
      if (r.line[r.pos++] != want) return fail_here(r, msg::unexpected_end_of_hex_escape);
    }
    std::uint32_t low = 0;
    if (!read_hex4(r, low)) return false;
    if (low < 0xdc00 || low > 0xdfff) return fail_here(r, msg::lone_leading_surrogate);
    cp = (((cp - 0xd800) << 10) | (low - 0xdc00)) + 0x10000;
  }
  o = encode_utf8(o, cp);
  return true;
}

// Copies the plain bytes from s[i] on; gives the index of the first quote, backslash or control
// character, or n. Each 16-byte block is stored whole before it is looked at: the output never
// runs ahead of the input, so the store stays within the buffer.
std::size_t copy_plain(const char* s, std::size_t n, std::size_t i, char*& o) {
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16, o += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    if (const unsigned mask = special_mask(s + i)) {
      const auto k = static_cast<std::size_t>(__builtin_ctz(mask));
      o += k;
      return i + k;
    }
  }
#endif
  for (; i < n && !is_special(s[i]); ++i) *o++ = s[i];
  return i;
}

// At least `size` bytes of scratch, their old contents left as they are.
char* scratch_for(Reader& r, std::size_t size) {
  if (r.scratch.size() < size) r.scratch.resize_and_overwrite(size, [](char*, std::size_t m) { return m; });
  return r.scratch.data();
}

}  // namespace

bool read_escaped_string(Reader& r, std::size_t start, std::size_t stop, std::string_view& out) {
  const char* s = r.line.data();
  const std::size_t n = r.line.size();
  // Escapes only shrink, so the rest of the line bounds the decoded text.
  char* const buf = scratch_for(r, n - start);
  char* o = buf;
  std::memcpy(o, s + start, stop - start);
  o += stop - start;
  for (std::size_t i = stop;;) {
    if (i == n) {
      r.pos = n;
      return fail_here(r, msg::eof_string);
    }
    r.pos = i + 1;
    if (s[i] == '"') {
      out = std::string_view(buf, static_cast<std::size_t>(o - buf));
      return true;
    }
    if (s[i] != '\\') return fail_here(r, msg::control_character);
    if (r.pos == n) return fail_here(r, msg::eof_string);
    const char c = s[r.pos++];
    if (const char d = simple_escape(c)) {
      *o++ = d;
    } else if (c != 'u') {
      return fail_here(r, msg::invalid_escape);
    } else if (!read_unicode_escape(r, o)) {
      return false;
    }
    i = copy_plain(s, n, r.pos, o);
  }
}

bool skip_string_body(Reader& r) {
  const char* s = r.line.data();
  const std::size_t n = r.line.size();
  std::size_t i = r.pos;
#if defined(__SSE2__)
  // Quotes and simple escapes are taken from the block's mask without rescanning; anything else
  // goes to the exact path below.
  bool exact = false;
  while (!exact && i + 16 <= n) {
    unsigned mask = special_mask(s + i);
    std::size_t next_block = i + 16;
    while (mask) {
      const std::size_t j = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (s[j] == '"') {
        r.pos = j + 1;
        return true;
      }
      if (s[j] != '\\' || j + 1 == n || !simple_escape(s[j + 1])) {
        next_block = j;
        exact = true;
        break;
      }
      const std::size_t next = j + 2;
      if (next >= i + 16) {
        next_block = next;
        break;
      }
      mask &= ~0u << (next - i);
    }
    i = next_block;
  }
#endif
  for (;;) {
    i = scan_string(s, n, i);
    if (i == n) {
      r.pos = n;
      return fail_here(r, msg::eof_string);
    }
    r.pos = i + 1;
    if (s[i] == '"') return true;
    if (s[i] != '\\') return fail_here(r, msg::control_character);
    if (r.pos == n) return fail_here(r, msg::eof_string);
    const char c = s[r.pos++];
    if (!simple_escape(c)) {
      if (c != 'u') return fail_here(r, msg::invalid_escape);
      // A skipped string may hold lone surrogates: only the form is checked.
      std::uint32_t ignored = 0;
      if (!read_hex4(r, ignored)) return false;
    }
    i = r.pos;
  }
}

bool read_string_value(Reader& r, std::string_view& out, std::string_view expected) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  if (c != '"') return fail_invalid_type_here(r, expected);
  ++r.pos;
  return read_string_body(r, out);
}

}  // namespace orvik::session_log
