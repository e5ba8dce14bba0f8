// One content block, read in two stages: the tag stage reads the whole block, takes out its "type"
// and holds the other entries; the variant stage then reads the held entries as the fields of the
// variant that the tag names. Only the tag stage knows positions; the variant stage's failures take
// the position of the content list around the block.

#include <array>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <fmt/format.h>

#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

using nlohmann::json;

enum class Tag { text, tool_use, tool_result, thinking, other };

// Every key that some variant takes; the other keys are dropped by every variant.
enum class Field : std::uint8_t { none, text, id, name, input, tool_use_id, content, is_error, thinking, signature };

Field field_of(std::string_view key) {
  switch (key.size()) {
    case 2: return is_key(key, "id") ? Field::id : Field::none;
    case 4: return is_key(key, "text") ? Field::text : is_key(key, "name") ? Field::name : Field::none;
    case 5: return is_key(key, "input") ? Field::input : Field::none;
    case 7: return is_key(key, "content") ? Field::content : Field::none;
    case 8: return is_key(key, "is_error") ? Field::is_error : is_key(key, "thinking") ? Field::thinking : Field::none;
    case 9: return is_key(key, "signature") ? Field::signature : Field::none;
    case 11: return is_key(key, "tool_use_id") ? Field::tool_use_id : Field::none;
    default: return Field::none;
  }
}

// The fields that hold a text rather than a JSON value.
bool is_text_field(Field f) { return f != Field::input && f != Field::content && f != Field::is_error; }

struct Slot {
  Field field;
  std::string_view name;
  bool required;       // in the object form
  bool array_default;  // may be missing at the end of the array form
};

constexpr std::array<Slot, 1> text_slots{{{Field::text, "text", true, false}}};
constexpr std::array<Slot, 3> tool_use_slots{{
    {Field::id, "id", true, false},
    {Field::name, "name", true, false},
    {Field::input, "input", true, false},
}};
constexpr std::array<Slot, 3> tool_result_slots{{
    {Field::tool_use_id, "tool_use_id", true, false},
    {Field::content, "content", false, true},
    {Field::is_error, "is_error", false, false},
}};
constexpr std::array<Slot, 2> thinking_slots{{
    {Field::thinking, "thinking", true, false},
    {Field::signature, "signature", false, false},
}};

std::size_t field_count(Tag tag) {
  switch (tag) {
    case Tag::text: return text_slots.size();
    case Tag::tool_use: return tool_use_slots.size();
    case Tag::tool_result: return tool_result_slots.size();
    case Tag::thinking: return thinking_slots.size();
    case Tag::other: break;
  }
  return 0;
}

bool takes(Tag tag, Field f) {
  switch (tag) {
    case Tag::text: return f == Field::text;
    case Tag::tool_use: return f == Field::id || f == Field::name || f == Field::input;
    case Tag::tool_result: return f == Field::tool_use_id || f == Field::content || f == Field::is_error;
    case Tag::thinking: return f == Field::thinking || f == Field::signature;
    case Tag::other: break;
  }
  return false;
}

bool fail_kind(Reader& r, const json& v, std::string_view expected) {
  return fail_unplaced(r, fmt::format(fmt::runtime(msg::invalid_type), found_json(v), expected));
}

bool take(Reader& r, json& v, std::string& out) {
  if (!v.is_string()) return fail_kind(r, v, msg::expect_string);
  out = std::move(v.get_ref<std::string&>());
  return true;
}
bool take(Reader& r, json& v, std::optional<std::string>& out) {
  if (v.is_null()) {
    out.reset();
    return true;
  }
  if (!v.is_string()) return fail_kind(r, v, msg::expect_string);
  out = std::move(v.get_ref<std::string&>());
  return true;
}
bool take(Reader& r, json& v, std::optional<bool>& out) {
  if (v.is_null()) {
    out.reset();
    return true;
  }
  if (!v.is_boolean()) return fail_kind(r, v, msg::expect_boolean);
  out = v.get<bool>();
  return true;
}
bool take(Reader&, json& v, json& out) {
  out = std::move(v);
  return true;
}

// A held entry: its text goes to the field as it is, anything else by the rules of JSON values.
template <class Out>
bool take(Reader& r, HeldEntry& e, Out& out) {
  if (!e.is_text) return take(r, e.value, out);
  if constexpr (std::is_same_v<Out, std::optional<bool>>) {
    return fail_unplaced(r, fmt::format(fmt::runtime(msg::invalid_type), found_string(e.text), msg::expect_boolean));
  } else {
    out = std::move(e.text);
    return true;
  }
}

bool set_field(Reader& r, RawContent::Text& b, std::size_t, auto& v) { return take(r, v, b.text); }
bool set_field(Reader& r, RawContent::ToolUse& b, std::size_t i, auto& v) {
  return i == 0 ? take(r, v, b.id) : i == 1 ? take(r, v, b.name) : take(r, v, b.input);
}
bool set_field(Reader& r, RawContent::ToolResult& b, std::size_t i, auto& v) {
  return i == 0 ? take(r, v, b.tool_use_id) : i == 1 ? take(r, v, b.content) : take(r, v, b.is_error);
}
bool set_field(Reader& r, RawContent::Thinking& b, std::size_t i, auto& v) {
  return i == 0 ? take(r, v, b.thinking) : take(r, v, b.signature);
}

// Held entries of the object form, in the order written: the first fault in that order wins.
template <class Block, std::size_t N>
bool object_stage(Reader& r, const std::array<Slot, N>& slots, RawContent& out) {
  Block block;
  std::array<bool, N> seen{};
  for (HeldEntry& e : r.held) {
    for (std::size_t i = 0; i < N; ++i) {
      if (slots[i].field != static_cast<Field>(e.field)) continue;
      if (seen[i]) return fail_unplaced(r, fmt::format(fmt::runtime(msg::duplicate_field), slots[i].name));
      seen[i] = true;
      if (!set_field(r, block, i, e)) return false;
    }
  }
  for (std::size_t i = 0; i < N; ++i)
    if (!seen[i] && slots[i].required)
      return fail_unplaced(r, fmt::format(fmt::runtime(msg::missing_field), slots[i].name));
  out.value = std::move(block);
  return true;
}

bool fail_length(Reader& r, std::size_t count, std::string_view expected) {
  return fail_unplaced(r, fmt::format(fmt::runtime(msg::invalid_length), count, expected));
}

bool fail_too_many(Reader& r, std::size_t count, std::size_t fields) {
  return fail_length(r, count,
                     fields == 1 ? std::string(msg::expect_one_in_sequence)
                                 : fmt::format(fmt::runtime(msg::expect_n_in_sequence), fields));
}

// The array form: the elements after the tag are the fields in order. Every element present is
// converted before a shortfall or a surplus is reported.
template <class Block, std::size_t N>
bool array_stage(Reader& r, std::vector<json>& elements, std::size_t count, const std::array<Slot, N>& slots,
                 std::string_view expected, RawContent& out) {
  Block block;
  for (std::size_t i = 0; i < N; ++i) {
    if (i < count) {
      if (!set_field(r, block, i, elements[i])) return false;
    } else if (!slots[i].array_default) {
      return fail_length(r, i, expected);
    }
  }
  if (count > N) return fail_too_many(r, count, N);
  out.value = std::move(block);
  return true;
}

// The tag: a JSON string. Every text but the four names gives Other.
bool read_content_tag(Reader& r, Tag& tag) {
  std::string_view text;
  if (!read_string_value(r, text, msg::expect_variant)) return false;
  tag = is_key(text, "text")          ? Tag::text
        : is_key(text, "tool_use")    ? Tag::tool_use
        : is_key(text, "tool_result") ? Tag::tool_result
        : is_key(text, "thinking")    ? Tag::thinking
                                      : Tag::other;
  return true;
}

bool read_object_block(Reader& r, RawContent& out) {
  r.held.clear();
  Tag tag = Tag::other;
  bool tagged = false;
  bool first = true;
  bool more = false;
  bool ok = true;
  for (;;) {
    std::string_view key;
    if (!next_key(r, first, more, key)) {
      ok = false;
      break;
    }
    if (!more) break;
    if (is_key(key, "type")) {
      // A second tag fails before its value is looked at.
      if (tagged) {
        ok = fail_unplaced(r, fmt::format(fmt::runtime(msg::duplicate_field), "type"));
        break;
      }
      if (!take_colon(r) || !read_content_tag(r, tag)) {
        ok = false;
        break;
      }
      tagged = true;
      continue;
    }
    const Field field = field_of(key);
    if (!take_colon(r)) {
      ok = false;
      break;
    }
    // Before the tag every field name may matter; after it only the variant's own.
    if (field != Field::none && (!tagged || takes(tag, field))) {
      HeldEntry& entry = r.held.emplace_back(HeldEntry{static_cast<std::uint8_t>(field), json(), {}, false});
      if (is_text_field(field) && peek_ws(r) == '"') {
        ++r.pos;
        std::string_view text;
        ok = read_string_body(r, text);
        entry.text.assign(text);
        entry.is_text = true;
      } else {
        ok = read_json_value(r, entry.value);
      }
    } else {
      ok = check_json_value(r);
    }
    if (!ok) break;
  }
  if (ok && !tagged) ok = fail_unplaced(r, fmt::format(fmt::runtime(msg::missing_field), "type"));
  const bool closed = end_object(r, ok);
  leave(r);
  if (!ok || !closed) {
    place(r);
    return false;
  }
  switch (tag) {
    case Tag::text: return object_stage<RawContent::Text>(r, text_slots, out);
    case Tag::tool_use: return object_stage<RawContent::ToolUse>(r, tool_use_slots, out);
    case Tag::tool_result: return object_stage<RawContent::ToolResult>(r, tool_result_slots, out);
    case Tag::thinking: return object_stage<RawContent::Thinking>(r, thinking_slots, out);
    case Tag::other: break;
  }
  out.value = RawContent::Other{};
  return true;
}

bool read_array_block(Reader& r, RawContent& out) {
  std::vector<json> elements;
  std::size_t count = 0;
  Tag tag = Tag::other;
  bool first = true;
  bool more = false;
  bool ok = next_element(r, first, more);
  if (ok && !more) ok = fail_unplaced(r, fmt::format(fmt::runtime(msg::missing_field), "type"));
  if (ok) ok = read_content_tag(r, tag);
  const std::size_t fields = field_count(tag);
  while (ok) {
    ok = next_element(r, first, more);
    if (!ok || !more) break;
    // Elements beyond the fields only count.
    ok = count < fields ? read_json_value(r, elements.emplace_back()) : check_json_value(r);
    ++count;
  }
  const bool closed = end_array(r, ok);
  leave(r);
  if (!ok || !closed) {
    place(r);
    return false;
  }
  switch (tag) {
    case Tag::text:
      return array_stage<RawContent::Text>(r, elements, count, text_slots, msg::expect_text_len, out);
    case Tag::tool_use:
      return array_stage<RawContent::ToolUse>(r, elements, count, tool_use_slots, msg::expect_tool_use_len, out);
    case Tag::tool_result:
      return array_stage<RawContent::ToolResult>(r, elements, count, tool_result_slots,
                                                 msg::expect_tool_result_len, out);
    case Tag::thinking:
      return array_stage<RawContent::Thinking>(r, elements, count, thinking_slots, msg::expect_thinking_len, out);
    case Tag::other: break;
  }
  if (count > 0) return fail_too_many(r, count, 0);
  out.value = RawContent::Other{};
  return true;
}

}  // namespace

bool read_raw_content(Reader& r, RawContent& out) {
  const int c = peek_ws(r);
  if (c == end_of_line) return fail_peek(r, msg::eof_value);
  if (c == '{') return enter(r) && read_object_block(r, out);
  if (c == '[') return enter(r) && read_array_block(r, out);
  return fail_invalid_type_here(r, msg::expect_content);
}

}  // namespace orvik::session_log
