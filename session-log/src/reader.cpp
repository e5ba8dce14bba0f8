// The record readers: RawRecord and its parts, each in object or array form, read straight from
// the line into their typed form.

#include <array>

#include <fmt/format.h>

#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

bool fail_length(Reader& r, std::size_t index, std::string_view expected) {
  return fail_unplaced(r, fmt::format(fmt::runtime(msg::invalid_length), index, expected));
}

// An optional value: JSON null gives none, spelt out in full.
bool read_null(Reader& r, bool& is_null) {
  is_null = peek_ws(r) == 'n';
  if (!is_null) return true;
  ++r.pos;
  return read_literal_rest(r, "ull");
}

// The optional readers: null gives none, anything else goes to the value's reader.
template <class T, class Read>
bool read_optional(Reader& r, std::optional<T>& out, Read&& read) {
  bool is_null = false;
  if (!read_null(r, is_null)) return false;
  if (is_null) {
    out.reset();
    return true;
  }
  return read(r, out.emplace());
}

bool read_string(Reader& r, std::string& out) {
  std::string_view text;
  if (!read_string_value(r, text, msg::expect_string)) return false;
  out.assign(text);
  return true;
}

bool read_optional_string(Reader& r, std::optional<std::string>& out) { return read_optional(r, out, read_string); }

bool read_flag(Reader& r, bool& out) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  if (c == 't' || c == 'f') {
    ++r.pos;
    out = c == 't';
    return read_literal_rest(r, out ? "rue" : "alse");
  }
  return fail_invalid_type_here(r, msg::expect_boolean);
}

// A token count: a plain integer within 64 unsigned bits.
bool read_count(Reader& r, std::uint64_t& out) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  if (c != '-' && (c < '0' || c > '9')) return fail_invalid_type_here(r, msg::expect_u64);
  const bool positive = c != '-';
  if (!positive) ++r.pos;
  Number n;
  if (!read_number(r, positive, n)) return false;
  switch (n.kind) {
    case Number::Kind::unsigned_int: out = n.u; return true;
    case Number::Kind::signed_int: return fail_found(r, msg::invalid_value, found_number(n), msg::expect_u64);
    case Number::Kind::floating: break;
  }
  return fail_found(r, msg::invalid_type, found_number(n), msg::expect_u64);
}

// The object form: each known key at most once, unlisted keys skipped. `index` maps a key to its
// field's number, or to `names.size()` for an unlisted key; `unlisted` sees those keys before the
// colon and says whether it took them.
template <std::size_t N, class Index, class Field, class Unlisted>
bool read_members(Reader& r, const std::array<std::string_view, N>& names, Index&& index, Field&& read_field,
                  Unlisted&& unlisted) {
  std::array<bool, N> seen{};
  bool first = true;
  bool more = false;
  for (;;) {
    std::string_view key;
    if (!next_key(r, first, more, key)) return false;
    if (!more) return true;
    const std::size_t i = index(key);
    if (i < N) {
      if (seen[i]) return fail_unplaced(r, fmt::format(fmt::runtime(msg::duplicate_field), names[i]));
      seen[i] = true;
      if (!take_colon(r) || !read_field(i)) return false;
      continue;
    }
    bool took = false;
    if (!unlisted(key, took)) return false;
    if (!took && (!take_colon(r) || !skip_value(r))) return false;
  }
}

template <std::size_t N, class Index, class Field>
bool read_members(Reader& r, const std::array<std::string_view, N>& names, Index&& index, Field&& read_field) {
  return read_members(r, names, index, read_field, [](std::string_view, bool&) { return true; });
}

// For the records read less often: the first key of `names` that matches, or N.
template <std::size_t N>
auto index_in(const std::array<std::string_view, N>& names) {
  return [&names](std::string_view key) {
    std::size_t i = 0;
    while (i < N && names[i] != key) ++i;
    return i;
  };
}

// One element of an array form: a field with a default takes it when the array has ended.
template <class Field>
bool read_element(Reader& r, bool& first, std::size_t index, std::string_view expected, bool has_default,
                  Field&& read_field) {
  bool more = false;
  if (!next_element(r, first, more)) return false;
  if (!more) return has_default || fail_length(r, index, expected);
  return read_field();
}

// A record in either form. A failure without a position takes the one after the close.
template <class Members, class Elements>
bool read_struct(Reader& r, std::string_view expected, Members&& members, Elements&& elements) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  bool ok = false;
  bool closed = false;
  if (c == '{') {
    if (!enter(r)) return false;
    ok = members();
    closed = end_object(r, ok);
  } else if (c == '[') {
    if (!enter(r)) return false;
    ok = elements();
    closed = end_array(r, ok);
  } else {
    return fail_invalid_type_here(r, expected);
  }
  leave(r);
  if (ok && closed) return true;
  place(r);
  return false;
}

template <class Members>
bool read_object(Reader& r, Members&& members) {
  if (!enter(r)) return false;
  const bool ok = members();
  const bool closed = end_object(r, ok);
  leave(r);
  if (ok && closed) return true;
  place(r);
  return false;
}

bool read_raw_usage(Reader& r, RawUsage& out) {
  static constexpr std::array<std::string_view, 4> keys{"input_tokens", "output_tokens", "cache_read_input_tokens",
                                                        "cache_creation_input_tokens"};
  const std::array<std::uint64_t*, 4> fields{&out.input_tokens, &out.output_tokens, &out.cache_read_input_tokens,
                                             &out.cache_creation_input_tokens};
  return read_struct(
      r, msg::expect_usage,
      [&] {
        const auto index = [](std::string_view key) -> std::size_t {
          return is_key(key, "input_tokens")                  ? 0
                 : is_key(key, "output_tokens")               ? 1
                 : is_key(key, "cache_read_input_tokens")     ? 2
                 : is_key(key, "cache_creation_input_tokens") ? 3
                                                              : 4;
        };
        return read_members(r, keys, index, [&](std::size_t i) { return read_count(r, *fields[i]); });
      },
      [&] {
        // A short array never fails: every count defaults to 0.
        bool first = true;
        for (std::size_t i = 0; i < fields.size(); ++i)
          if (!read_element(r, first, i, {}, true, [&] { return read_count(r, *fields[i]); })) return false;
        return true;
      });
}

bool read_optional_usage(Reader& r, std::optional<RawUsage>& out) { return read_optional(r, out, read_raw_usage); }

// A message's content: a list of blocks, or a plain string (how the agent writes typed prompts),
// which gives one Text block.
bool read_content_list(Reader& r, std::vector<RawContent>& blocks) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  if (c == '"') {
    ++r.pos;
    std::string_view text;
    if (!read_string_body(r, text)) return false;
    blocks.push_back(RawContent{RawContent::Text{std::string(text)}});
    return true;
  }
  if (c != '[') return fail_invalid_type_here(r, msg::expect_sequence);
  if (!enter(r)) return false;
  bool first = true;
  bool more = false;
  bool ok = true;
  while ((ok = next_element(r, first, more)) && more) {
    if (!(ok = read_raw_content(r, blocks.emplace_back()))) break;
  }
  // A block's failure without a position takes the one after the list's close.
  const bool closed = end_array(r, ok);
  leave(r);
  if (ok && closed) return true;
  place(r);
  return false;
}

bool read_optional_content_list(Reader& r, std::optional<std::vector<RawContent>>& out) {
  return read_optional(r, out, read_content_list);
}

bool read_raw_message(Reader& r, RawMessage& out) {
  static constexpr std::array<std::string_view, 2> keys{"content", "usage"};
  const auto field = [&](std::size_t i) {
    return i == 0 ? read_optional_content_list(r, out.content) : read_optional_usage(r, out.usage);
  };
  // "id" is kept when it is a string that decodes and otherwise passed over like any unlisted key:
  // a lone surrogate in it must not fail a line that would read without it.
  const auto id = [&](std::string_view key, bool& took) {
    if (!is_key(key, "id")) return true;
    took = true;
    if (!take_colon(r)) return false;
    if (peek_ws(r) != '"') return skip_value(r);
    const std::size_t start = r.pos;
    std::string_view text;
    if (read_string_value(r, text, msg::expect_string)) {
      out.id.emplace(text);
      return true;
    }
    r.pos = start;
    return skip_value(r);
  };
  return read_struct(
      r, msg::expect_message,
      [&] {
        const auto index = [](std::string_view key) -> std::size_t {
          return is_key(key, "content") ? 0 : is_key(key, "usage") ? 1 : 2;
        };
        return read_members(r, keys, index, field, id);
      },
      [&] {
        bool first = true;
        return read_element(r, first, 0, msg::expect_message_len, false, [&] { return field(0); }) &&
               read_element(r, first, 1, msg::expect_message_len, false, [&] { return field(1); });
      });
}

bool read_optional_message(Reader& r, std::optional<RawMessage>& out) {
  return read_optional(r, out, read_raw_message);
}

bool read_raw_tool_file(Reader& r, RawToolFile& out) {
  static constexpr std::array<std::string_view, 1> keys{"filePath"};
  const auto field = [&] { return read_optional_string(r, out.filePath); };
  return read_struct(
      r, msg::expect_tool_file,
      [&] { return read_members(r, keys, index_in(keys), [&](std::size_t) { return field(); }); },
      [&] {
        bool first = true;
        return read_element(r, first, 0, msg::expect_tool_file_len, false, field);
      });
}

bool read_optional_tool_file(Reader& r, std::optional<RawToolFile>& out) {
  return read_optional(r, out, read_raw_tool_file);
}

// Only the object form is read: any other value is passed over (see read_optional_tool_use_result).
bool read_raw_tool_use_result(Reader& r, RawToolUseResult& out) {
  static constexpr std::array<std::string_view, 5> keys{"stdout", "stderr", "interrupted", "isImage", "file"};
  return read_object(r, [&] {
    return read_members(r, keys, index_in(keys), [&](std::size_t i) {
      switch (i) {
        case 0: return read_optional_string(r, out.stdout_text);
        case 1: return read_optional_string(r, out.stderr_text);
        case 2: return read_flag(r, out.interrupted);
        case 3: return read_flag(r, out.isImage);
        default: return read_optional_tool_file(r, out.file);
      }
    });
  });
}

// Failed tool calls carry a string here and some tools an array: those read as none, so that the
// line and its tool result are kept.
bool read_optional_tool_use_result(Reader& r, std::optional<RawToolUseResult>& out) {
  out.reset();
  if (peek_ws(r) == '{') return read_raw_tool_use_result(r, out.emplace());
  return skip_value(r);
}

constexpr std::array<std::string_view, 8> record_keys{"type",      "uuid",        "parentUuid", "timestamp",
                                                      "sessionId", "isSidechain", "message",    "toolUseResult"};

// The number of the RawRecord field that a key names, or 8 for an unlisted key.
std::size_t record_field_index(std::string_view key) {
  switch (key.size()) {
    case 4: return is_key(key, "type") ? 0 : is_key(key, "uuid") ? 1 : 8;
    case 7: return is_key(key, "message") ? 6 : 8;
    case 9: return is_key(key, "timestamp") ? 3 : is_key(key, "sessionId") ? 4 : 8;
    case 10: return is_key(key, "parentUuid") ? 2 : 8;
    case 11: return is_key(key, "isSidechain") ? 5 : 8;
    case 13: return is_key(key, "toolUseResult") ? 7 : 8;
    default: return 8;
  }
}

// The record's own texts (ids, time) are read into the buffers of an earlier line's, when there are any.
bool read_record_text(Reader& r, std::optional<std::string>& out, std::string& spare) {
  bool is_null = false;
  if (!read_null(r, is_null)) return false;
  if (is_null) {
    out.reset();
    return true;
  }
  std::string_view text;
  if (!read_string_value(r, text, msg::expect_string)) return false;
  out.emplace(std::move(spare)).assign(text);
  return true;
}

bool read_record_field(Reader& r, RawRecord& out, std::size_t i) {
  switch (i) {
    case 0: return read_record_text(r, out.type, r.spare_texts[0]);
    case 1: return read_record_text(r, out.uuid, r.spare_texts[1]);
    case 2: return read_record_text(r, out.parentUuid, r.spare_texts[2]);
    case 3: return read_record_text(r, out.timestamp, r.spare_texts[3]);
    case 4: return read_record_text(r, out.sessionId, r.spare_texts[4]);
    case 5: return read_flag(r, out.isSidechain);
    case 6: return read_optional_message(r, out.message);
    default: return read_optional_tool_use_result(r, out.toolUseResult);
  }
}

bool read_record(Reader& r, RawRecord& out) {
  return read_struct(
      r, msg::expect_record,
      [&] {
        return read_members(r, record_keys, record_field_index,
                            [&](std::size_t i) { return read_record_field(r, out, i); });
      },
      [&] {
        bool first = true;
        for (std::size_t i = 0; i < record_keys.size(); ++i) {
          const bool has_default = i == 5;  // isSidechain
          if (!read_element(r, first, i, msg::expect_record_len, has_default,
                            [&] { return read_record_field(r, out, i); }))
            return false;
        }
        return true;
      });
}

// One reader per thread, its buffers kept from line to line: the scratch buffer is as long as the rest
// of the line, and taking it fresh from the allocator for every line costs more than reading a short one.
Reader& thread_reader() {
  thread_local Reader reader;
  return reader;
}

// Readies the thread's reader for a line; at its end lets go of what the line's values hold, and of
// buffers that an exceptional line has grown.
struct LineReader {
  static constexpr std::size_t most = std::size_t{1} << 20;

  Reader& r = thread_reader();
  explicit LineReader(std::string_view line) {
    r.line = line;
    r.pos = 0;
    r.budget = 128;
    r.placed = false;
    r.error_index = 0;
  }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() {
    r.line = {};
    r.held.clear();
    if (r.scratch.capacity() > most) std::string().swap(r.scratch);
    if (r.open_brackets.capacity() > most) std::string().swap(r.open_brackets);
    if (r.held.capacity() > most / sizeof(HeldEntry)) std::vector<HeldEntry>().swap(r.held);
  }
};

}  // namespace

void keep_record_texts(RawRecord& record) {
  constexpr std::size_t most = 256;  // ids and times are short; anything longer is not worth keeping
  std::optional<std::string>* const texts[] = {&record.type, &record.uuid, &record.parentUuid, &record.timestamp,
                                               &record.sessionId};
  auto& spare = thread_reader().spare_texts;
  for (std::size_t i = 0; i < spare.size(); ++i) {
    auto& text = *texts[i];
    if (text && text->capacity() > spare[i].capacity() && text->capacity() <= most) spare[i] = std::move(*text);
  }
}

std::expected<RawRecord, std::string> read_raw_record(std::string_view line) {
  const LineReader reader(line);
  Reader& r = reader.r;
  RawRecord record;
  if (!read_record(r, record)) return std::unexpected(failure_message(r));
  if (peek_ws(r) != end_of_line) {
    fail_peek(r, msg::trailing_characters);
    return std::unexpected(failure_message(r));
  }
  return record;
}

}  // namespace orvik::session_log
