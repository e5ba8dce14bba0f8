// The record readers: RawRecord and its parts, each in object or array form, read straight from
// the line into their typed form.

#include <array>

#include <fmt/format.h>

#include "field_table.hpp"
#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

bool fail_length(Reader& r, std::size_t index, std::string_view expected) {
  return fail_unplaced(r, fmt::format(msg::invalid_length, index, expected));
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

// A field of a record: its key, what it takes when left out, and its reader.
template <class Record>
struct Field {
  std::string_view key;
  Absent absent;
  bool (*read)(Reader&, Record&);
};

template <auto Member, auto Read>
bool read_member(Reader& r, record_of<Member>& out) {
  return Read(r, out.*Member);
}

template <auto Member, auto Read>
constexpr Field<record_of<Member>> field(std::string_view key, Absent absent) {
  return {key, absent, read_member<Member, Read>};
}

// The object form: each known key at most once, unlisted keys skipped. `unlisted` sees those keys
// before the colon and says whether it took them.
template <const auto& Fields, class Record, class Unlisted>
bool read_members(Reader& r, Record& out, Unlisted&& unlisted) {
  constexpr std::size_t n = field_count<Fields>;
  std::array<bool, n> seen{};
  bool first = true;
  bool more = false;
  for (;;) {
    std::string_view key;
    if (!next_key(r, first, more, key)) return false;
    if (!more) break;
    const std::size_t i = field_index<Fields>(key);
    if (i < n) {
      if (seen[i]) return fail_unplaced(r, fmt::format(msg::duplicate_field, Fields[i].key));
      seen[i] = true;
      if (!take_colon(r) || !read_field<Fields>(i, r, out)) return false;
      continue;
    }
    bool took = false;
    if (!unlisted(key, took)) return false;
    if (!took && (!take_colon(r) || !skip_value(r))) return false;
  }
  for (std::size_t i = 0; i < n; ++i)
    if (Fields[i].absent == Absent::fails && !seen[i])
      return fail_unplaced(r, fmt::format(msg::missing_field, Fields[i].key));
  return true;
}

template <const auto& Fields, class Record>
bool read_members(Reader& r, Record& out) {
  return read_members<Fields>(r, out, [](std::string_view, bool&) { return true; });
}

// The array form: the fields in order; a field that defaults takes it when the array has ended.
template <const auto& Fields, class Record>
bool read_elements(Reader& r, Record& out, std::string_view expected) {
  bool first = true;
  const auto element = [&](std::size_t index, auto read) {
    bool more = false;
    if (!next_element(r, first, more)) return false;
    if (!more)
      return Fields[index].absent == Absent::defaults ||
             fail_length(r, index, msg::expect_length(expected, field_count<Fields>));
    return read(r, out);
  };
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (element(I, Fields[I].read) && ...);
  }(std::make_index_sequence<field_count<Fields>>{});
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

// A short array never fails: every count defaults to 0.
constexpr std::array usage_fields{
    field<&RawUsage::input_tokens, read_count>("input_tokens", Absent::defaults),
    field<&RawUsage::output_tokens, read_count>("output_tokens", Absent::defaults),
    field<&RawUsage::cache_read_input_tokens, read_count>("cache_read_input_tokens", Absent::defaults),
    field<&RawUsage::cache_creation_input_tokens, read_count>("cache_creation_input_tokens", Absent::defaults),
};

bool read_raw_usage(Reader& r, RawUsage& out) {
  return read_struct(
      r, msg::expect_usage, [&] { return read_members<usage_fields>(r, out); },
      [&] { return read_elements<usage_fields>(r, out, msg::expect_usage); });
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

constexpr std::array message_fields{
    field<&RawMessage::content, read_optional_content_list>("content", Absent::none_in_object),
    field<&RawMessage::usage, read_optional_usage>("usage", Absent::none_in_object),
};

bool read_raw_message(Reader& r, RawMessage& out) {
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
      r, msg::expect_message, [&] { return read_members<message_fields>(r, out, id); },
      [&] { return read_elements<message_fields>(r, out, msg::expect_message); });
}

bool read_optional_message(Reader& r, std::optional<RawMessage>& out) {
  return read_optional(r, out, read_raw_message);
}

constexpr std::array tool_file_fields{
    field<&RawToolFile::filePath, read_optional_string>("filePath", Absent::none_in_object),
};

bool read_raw_tool_file(Reader& r, RawToolFile& out) {
  return read_struct(
      r, msg::expect_tool_file, [&] { return read_members<tool_file_fields>(r, out); },
      [&] { return read_elements<tool_file_fields>(r, out, msg::expect_tool_file); });
}

bool read_optional_tool_file(Reader& r, std::optional<RawToolFile>& out) {
  return read_optional(r, out, read_raw_tool_file);
}

constexpr std::array tool_use_result_fields{
    field<&RawToolUseResult::stdout_text, read_optional_string>("stdout", Absent::none_in_object),
    field<&RawToolUseResult::stderr_text, read_optional_string>("stderr", Absent::none_in_object),
    field<&RawToolUseResult::interrupted, read_flag>("interrupted", Absent::defaults),
    field<&RawToolUseResult::isImage, read_flag>("isImage", Absent::defaults),
    field<&RawToolUseResult::file, read_optional_tool_file>("file", Absent::none_in_object),
};

// Only the object form is read: any other value is passed over (see read_optional_tool_use_result).
bool read_raw_tool_use_result(Reader& r, RawToolUseResult& out) {
  return read_object(r, [&] { return read_members<tool_use_result_fields>(r, out); });
}

// Failed tool calls carry a string here and some tools an array: those read as none, so that the
// line and its tool result are kept.
bool read_optional_tool_use_result(Reader& r, std::optional<RawToolUseResult>& out) {
  out.reset();
  if (peek_ws(r) == '{') return read_raw_tool_use_result(r, out.emplace());
  return skip_value(r);
}

// The record's own texts, each read into the buffer that an earlier line's left.
constexpr std::array record_texts{&RawRecord::type, &RawRecord::uuid, &RawRecord::parentUuid, &RawRecord::timestamp,
                                  &RawRecord::sessionId};
static_assert(record_texts.size() == std::tuple_size_v<decltype(Reader::spare_texts)>);

template <auto Text>
constexpr std::size_t spare_of() {
  std::size_t i = 0;
  while (record_texts[i] != Text) ++i;
  return i;
}

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

template <auto Text>
bool read_record_text(Reader& r, RawRecord& record) {
  return read_record_text(r, record.*Text, r.spare_texts[spare_of<Text>()]);
}

constexpr std::array record_fields{
    Field<RawRecord>{"type", Absent::none_in_object, read_record_text<&RawRecord::type>},
    Field<RawRecord>{"uuid", Absent::none_in_object, read_record_text<&RawRecord::uuid>},
    Field<RawRecord>{"parentUuid", Absent::none_in_object, read_record_text<&RawRecord::parentUuid>},
    Field<RawRecord>{"timestamp", Absent::none_in_object, read_record_text<&RawRecord::timestamp>},
    Field<RawRecord>{"sessionId", Absent::none_in_object, read_record_text<&RawRecord::sessionId>},
    field<&RawRecord::isSidechain, read_flag>("isSidechain", Absent::defaults),
    field<&RawRecord::message, read_optional_message>("message", Absent::none_in_object),
    field<&RawRecord::toolUseResult, read_optional_tool_use_result>("toolUseResult", Absent::none_in_object),
};

bool read_record(Reader& r, RawRecord& out) {
  return read_struct(
      r, msg::expect_record, [&] { return read_members<record_fields>(r, out); },
      [&] { return read_elements<record_fields>(r, out, msg::expect_record); });
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
  auto& spare = thread_reader().spare_texts;
  for (std::size_t i = 0; i < spare.size(); ++i) {
    auto& text = record.*record_texts[i];
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
