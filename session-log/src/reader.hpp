#pragma once

// The hand-written JSON reader beneath read_raw_record: one pass over one line, no document tree.
// Every read_* takes the same Reader, reads forward and never looks back; a false return means the
// first failure is recorded in the Reader and the caller passes it outward unchanged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "messages.hpp"
#include "session_log/raw.hpp"

namespace orvik::session_log {

inline constexpr int end_of_line = -1;

// A decoded key or tag against a literal, whole and byte for byte; the fixed length lets the
// compare be inlined.
template <std::size_t N>
inline bool is_key(std::string_view key, const char (&literal)[N]) {
  return key.size() == N - 1 && std::memcmp(key.data(), literal, N - 1) == 0;
}

// A member of a content block held between the block's two stages: the field it may fill and its value.
// A string given to a text field is held as `text`, so that it reaches the block without a JSON value
// built around it.
struct HeldEntry {
  std::uint8_t field;
  nlohmann::json value;
  std::string text;
  bool is_text = false;
};

struct Reader {
  std::string_view line;
  std::size_t pos = 0;         // byte index into line
  std::uint8_t budget = 128;   // nesting levels left for typed values
  std::string scratch;         // decoded text of the last string that had escapes
  std::string open_brackets;   // the skipper's own stack
  std::vector<HeldEntry> held;  // the block being read; blocks do not nest
  std::array<std::string, 5> spare_texts;  // buffers for the record's type, ids and time

  // The first failure. `placed` is false while it still waits for the position of the
  // container that closes around it.
  std::string error;
  bool placed = false;
  std::size_t error_index = 0;
};

// Failures. Each records the text and returns false, so callers can `return fail_...(r, ...)`.
bool fail_at(Reader& r, std::string_view text, std::size_t index);
inline bool fail_here(Reader& r, std::string_view text) { return fail_at(r, text, r.pos); }
// At the character about to be read (1-based), or at the end of the line.
inline bool fail_peek(Reader& r, std::string_view text) {
  return fail_at(r, text, r.pos < r.line.size() ? r.pos + 1 : r.line.size());
}
// A failure that takes the position of the container that it passes out of.
bool fail_unplaced(Reader& r, std::string text);
inline void place(Reader& r) {
  if (!r.placed) {
    r.placed = true;
    r.error_index = r.pos;
  }
}
// "invalid type: {}, expected {}" for the value at the current position; reads a scalar to render
// it, leaves arrays and objects unentered. Syntax errors in the scalar win.
bool fail_invalid_type_here(Reader& r, std::string_view expected);
// "invalid type: {}, expected {}" or "invalid value: {}, expected {}" for the value just read.
using FoundMessage = fmt::format_string<std::string_view, std::string_view>;
bool fail_found(Reader& r, FoundMessage message, std::string_view found, std::string_view expected);
// The whole message: the failure's text and " at line {} column {}".
std::string failure_message(const Reader& r);

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Skips white space; gives the next byte, or end_of_line.
inline int peek_ws(Reader& r) {
  const std::size_t n = r.line.size();
  while (r.pos < n) {
    const char c = r.line[r.pos];
    if (!is_blank(c)) return static_cast<unsigned char>(c);
    ++r.pos;
  }
  return end_of_line;
}

// Before every typed "[" or "{": one level from the budget, then the bracket.
inline bool enter(Reader& r) {
  if (r.budget == 1) return fail_peek(r, msg::recursion_limit);
  --r.budget;
  ++r.pos;
  return true;
}
inline void leave(Reader& r) { ++r.budget; }

#if defined(__SSE2__)
// Bit k is set when p[k] is a quote, a backslash or a control character.
inline unsigned special_mask(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hit =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
                   _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

inline bool is_special(char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; }

// The first index from `i` on that holds a quote, a backslash or a control character.
inline std::size_t scan_string(const char* s, std::size_t n, std::size_t i) {
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16)
    if (const unsigned mask = special_mask(s + i)) return i + static_cast<std::size_t>(__builtin_ctz(mask));
#endif
  while (i < n && !is_special(s[i])) ++i;
  return i;
}

bool read_escaped_string(Reader& r, std::size_t start, std::size_t stop, std::string_view& out);

// A string whose opening quote is already taken. `out` views the line, or the scratch buffer when
// the string has escapes; it stays valid until the next string is read.
inline bool read_string_body(Reader& r, std::string_view& out) {
  const std::size_t start = r.pos;
  const std::size_t stop = scan_string(r.line.data(), r.line.size(), start);
  if (stop < r.line.size() && r.line[stop] == '"') {
    out = r.line.substr(start, stop - start);
    r.pos = stop + 1;
    return true;
  }
  return read_escaped_string(r, start, stop, out);
}
// A JSON string value, or the type failure with the expectation given.
bool read_string_value(Reader& r, std::string_view& out, std::string_view expected);
// Validates a string whose opening quote is already taken, without decoding it.
bool skip_string_body(Reader& r);

// The rest of a literal whose first letter is already taken.
bool read_literal_rest(Reader& r, std::string_view rest);

struct Number {
  enum class Kind { unsigned_int, signed_int, floating } kind = Kind::unsigned_int;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double f = 0;
};
// A number whose minus sign, if any, is already taken.
bool read_number(Reader& r, bool positive, Number& out);

// Validates one JSON value and drops it: no building, no budget, no recursion.
bool skip_value(Reader& r);

// A JSON value read whole (objects sorted by key, the last duplicate kept), or only validated by the
// same rules; both take their arrays and objects from the budget.
bool read_json_value(Reader& r, nlohmann::json& out);
bool check_json_value(Reader& r);

// Element and member separators of a typed array or object.
bool next_element(Reader& r, bool& first, bool& more);
bool next_key(Reader& r, bool& first, bool& more, std::string_view& key);
bool take_colon(Reader& r);
// The close of a typed array or object, also run after a failure inside it; only reports its own
// failure when `report` is set.
bool end_array(Reader& r, bool report);
bool end_object(Reader& r, bool report);

// Renderings of a found value.
std::string format_double(double v);
std::string found_number(const Number& n);
std::string found_string(std::string_view s);
std::string found_json(const nlohmann::json& v);

// One content block of a message's content list.
bool read_raw_content(Reader& r, RawContent& out);

// Hands the buffers of a record's type, ids and time to this thread's next read_raw_record, once the
// record has been used: the texts are left empty or unchanged.
void keep_record_texts(RawRecord& record);

}  // namespace orvik::session_log
