// The JSON grammar beneath the typed readers: failures and their positions, literals, numbers,
// separators, and the skipper for values that are dropped.

#include <charconv>
#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A skipped number is checked against the grammar only, with no range test.
bool skip_number(Reader& r) {
  const char* s = r.line.data();
  const std::size_t n = r.line.size();
  if (r.pos == n) return fail_here(r, msg::invalid_number);
  const char c = s[r.pos++];
  if (c == '0') {
    if (r.pos < n && is_digit(s[r.pos])) return fail_peek(r, msg::invalid_number);
  } else if (c >= '1' && c <= '9') {
    while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
  } else {
    return fail_here(r, msg::invalid_number);
  }
  if (r.pos < n && s[r.pos] == '.') {
    const std::size_t digits = ++r.pos;
    while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
    if (r.pos == digits) return fail_peek(r, msg::invalid_number);
  }
  if (r.pos < n && (s[r.pos] == 'e' || s[r.pos] == 'E')) {
    ++r.pos;
    if (r.pos < n && (s[r.pos] == '+' || s[r.pos] == '-')) ++r.pos;
    if (r.pos == n) return fail_here(r, msg::invalid_number);
    if (!is_digit(s[r.pos++])) return fail_here(r, msg::invalid_number);
    while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
  }
  return true;
}

// Whether a number literal that no double can hold lies above the range rather than below it:
// the power of ten of its first significant digit plus its exponent.
bool is_beyond_range(std::string_view text) {
  std::size_t i = text.front() == '-' ? 1 : 0;
  std::int64_t power = 0;
  bool significant = false;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    if (significant) ++power;
    significant |= text[i] != '0';
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && is_digit(text[i]); ++i) {
      if (significant) continue;
      --power;
      significant = text[i] != '0';
    }
  }
  std::int64_t exponent = 0;
  bool negative = false;
  if (i < text.size()) {
    ++i;  // the e
    negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    for (; i < text.size(); ++i) exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
  }
  return significant && power + (negative ? -exponent : exponent) > 0;
}

// Number text to the nearest double; false when it lies beyond the range of a double.
bool to_double(std::string_view text, double& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (ec != std::errc::result_out_of_range) return true;
  // from_chars leaves the value alone for underflow as well as for overflow.
  if (is_beyond_range(text)) return false;
  out = text.front() == '-' ? -0.0 : 0.0;
  return true;
}

}  // namespace

bool fail_at(Reader& r, std::string_view text, std::size_t index) {
  r.error.assign(text);
  r.placed = true;
  r.error_index = index;
  return false;
}

bool fail_unplaced(Reader& r, std::string text) {
  r.error = std::move(text);
  r.placed = false;
  return false;
}

bool fail_found(Reader& r, FoundMessage message, std::string_view found, std::string_view expected) {
  // The format was checked where `message` was made.
  fail_unplaced(r, fmt::vformat(message, fmt::make_format_args(found, expected)));
  place(r);
  return false;
}

bool fail_invalid_type_here(Reader& r, std::string_view expected) {
  const char c = r.pos < r.line.size() ? r.line[r.pos] : '\0';
  std::string found;
  switch (c) {
    case 'n':
      ++r.pos;
      if (!read_literal_rest(r, "ull")) return false;
      found = msg::found_null;
      break;
    case 't':
      ++r.pos;
      if (!read_literal_rest(r, "rue")) return false;
      found = fmt::format(msg::found_boolean, "true");
      break;
    case 'f':
      ++r.pos;
      if (!read_literal_rest(r, "alse")) return false;
      found = fmt::format(msg::found_boolean, "false");
      break;
    case '"': {
      ++r.pos;
      std::string_view text;
      if (!read_string_body(r, text)) return false;
      found = found_string(text);
      break;
    }
    case '[': found = msg::found_sequence; break;
    case '{': found = msg::found_map; break;
    default: {
      if (c != '-' && !is_digit(c)) return fail_peek(r, msg::expected_value);
      const bool positive = c != '-';
      if (!positive) ++r.pos;
      Number number;
      if (!read_number(r, positive, number)) return false;
      found = found_number(number);
      break;
    }
  }
  return fail_found(r, msg::invalid_type, found, expected);
}

std::string failure_message(const Reader& r) {
  const std::string_view before = r.line.substr(0, std::min(r.error_index, r.line.size()));
  const std::size_t last_feed = before.rfind('\n');
  const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
  std::size_t line_number = 1;
  for (std::size_t i = 0; i < line_start; ++i) line_number += before[i] == '\n';
  return fmt::format(msg::position_suffix, r.error, line_number, r.error_index - line_start);
}

bool read_literal_rest(Reader& r, std::string_view rest) {
  for (const char want : rest) {
    if (r.pos == r.line.size()) return fail_here(r, msg::eof_value);
    if (r.line[r.pos++] != want) return fail_here(r, msg::expected_ident);
  }
  return true;
}

bool read_number(Reader& r, bool positive, Number& out) {
  const char* s = r.line.data();
  const std::size_t n = r.line.size();
  const std::size_t start = positive ? r.pos : r.pos - 1;
  if (r.pos == n) return fail_here(r, msg::eof_value);
  const char first = s[r.pos++];
  std::uint64_t significand = 0;
  bool floating = false;
  if (first == '0') {
    if (r.pos < n && is_digit(s[r.pos])) return fail_peek(r, msg::invalid_number);
  } else if (first >= '1' && first <= '9') {
    significand = static_cast<std::uint64_t>(first - '0');
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    while (r.pos < n && is_digit(s[r.pos])) {
      const auto digit = static_cast<std::uint64_t>(s[r.pos] - '0');
      if (significand > (max - digit) / 10) {
        floating = true;  // beyond 64 bits: read on as a double
        while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
        break;
      }
      significand = significand * 10 + digit;
      ++r.pos;
    }
  } else {
    return fail_here(r, msg::invalid_number);
  }
  if (r.pos < n && s[r.pos] == '.') {
    floating = true;
    const std::size_t digits = ++r.pos;
    while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
    if (r.pos == digits) return fail_peek(r, r.pos < n ? msg::invalid_number : msg::eof_value);
  }
  if (r.pos < n && (s[r.pos] == 'e' || s[r.pos] == 'E')) {
    floating = true;
    ++r.pos;
    if (r.pos < n && (s[r.pos] == '+' || s[r.pos] == '-')) ++r.pos;
    if (r.pos == n) return fail_here(r, msg::eof_value);
    if (!is_digit(s[r.pos++])) return fail_here(r, msg::invalid_number);
    while (r.pos < n && is_digit(s[r.pos])) ++r.pos;
  }
  if (!floating) {
    if (positive) {
      out.kind = Number::Kind::unsigned_int;
      out.u = significand;
      return true;
    }
    // -0 and anything below the signed range read as doubles.
    if (significand != 0 && significand <= (std::uint64_t{1} << 63)) {
      out.kind = Number::Kind::signed_int;
      out.i = static_cast<std::int64_t>(0 - significand);
      return true;
    }
  }
  out.kind = Number::Kind::floating;
  if (!to_double(r.line.substr(start, r.pos - start), out.f)) return fail_here(r, msg::number_out_of_range);
  return true;
}

bool skip_value(Reader& r) {
  std::string& open = r.open_brackets;
  open.clear();
  for (;;) {
    // A value is due.
    int c = peek_ws(r);
    bool opened = false;
    switch (c) {
      case end_of_line: return fail_peek(r, msg::eof_value);
      case 'n': ++r.pos; if (!read_literal_rest(r, "ull")) return false; break;
      case 't': ++r.pos; if (!read_literal_rest(r, "rue")) return false; break;
      case 'f': ++r.pos; if (!read_literal_rest(r, "alse")) return false; break;
      case '-': ++r.pos; if (!skip_number(r)) return false; break;
      case '"': ++r.pos; if (!skip_string_body(r)) return false; break;
      case '[': case '{': ++r.pos; open.push_back(static_cast<char>(c)); opened = true; break;
      default:
        if (!is_digit(static_cast<char>(c))) return fail_peek(r, msg::expected_value);
        if (!skip_number(r)) return false;
        break;
    }
    if (open.empty()) return true;
    // After a value or an opening bracket: close what ends here, then find the next value.
    bool accept_comma = !opened;
    for (;;) {
      const char frame = open.back();
      c = peek_ws(r);
      if (c == ',' && accept_comma) {
        ++r.pos;
        break;
      }
      if ((c == ']' && frame == '[') || (c == '}' && frame == '{')) {
        ++r.pos;
        open.pop_back();
        if (open.empty()) return true;
        accept_comma = true;
        continue;
      }
      if (c == end_of_line) return fail_peek(r, frame == '[' ? msg::eof_list : msg::eof_object);
      if (accept_comma) return fail_peek(r, frame == '[' ? msg::expected_list_comma : msg::expected_object_comma);
      break;
    }
    if (open.back() == '{') {
      c = peek_ws(r);
      if (c == end_of_line) return fail_peek(r, msg::eof_object);
      if (c != '"') return fail_peek(r, msg::key_must_be_string);
      ++r.pos;
      if (!skip_string_body(r)) return false;
      c = peek_ws(r);
      if (c == end_of_line) return fail_peek(r, msg::eof_object);
      if (c != ':') return fail_peek(r, msg::expected_colon);
      ++r.pos;
    }
  }
}

bool next_element(Reader& r, bool& first, bool& more) {
  int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_list);
  if (c == ']') {
    more = false;
    return true;
  }
  more = true;
  if (first) {
    first = false;
    return true;
  }
  if (c != ',') return fail_peek(r, msg::expected_list_comma);
  ++r.pos;
  c = peek_ws(r);
  if (c == ']') return fail_peek(r, msg::trailing_comma);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  return true;
}

bool next_key(Reader& r, bool& first, bool& more, std::string_view& key) {
  int c = peek_ws(r);
  if (c == '}') {
    more = false;
    return true;
  }
  if (c == end_of_line) return fail_peek(r, msg::eof_object);
  if (c == ',' && !first) {
    ++r.pos;
    c = peek_ws(r);
  } else if (first) {
    first = false;
  } else {
    return fail_peek(r, msg::expected_object_comma);
  }
  if (c == '"') {
    ++r.pos;
    more = true;
    return read_string_body(r, key);
  }
  if (c == '}') return fail_peek(r, msg::trailing_comma);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  return fail_peek(r, msg::key_must_be_string);
}

bool take_colon(Reader& r) {
  const int c = peek_ws(r);
  if (c == ':') {
    ++r.pos;
    return true;
  }
  return fail_peek(r, c == end_of_line ? msg::eof_object : msg::expected_colon);
}

bool end_array(Reader& r, bool report) {
  int c = peek_ws(r);
  if (c == ']') {
    ++r.pos;
    return true;
  }
  if (c == ',') {
    ++r.pos;
    c = peek_ws(r);
    return report && fail_peek(r, c == ']' ? msg::trailing_comma : msg::trailing_characters);
  }
  return report && fail_peek(r, c == end_of_line ? msg::eof_list : msg::trailing_characters);
}

bool end_object(Reader& r, bool report) {
  const int c = peek_ws(r);
  if (c == '}') {
    ++r.pos;
    return true;
  }
  if (!report) return false;
  if (c == ',') return fail_peek(r, msg::trailing_comma);
  return fail_peek(r, c == end_of_line ? msg::eof_object : msg::trailing_characters);
}

}  // namespace orvik::session_log
