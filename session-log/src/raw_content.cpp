// One content block, read in two stages: the tag stage reads the whole block, takes out its "type"
// and holds the other entries; the variant stage then reads the held entries as the fields of the
// variant that the tag names. Only the tag stage knows positions; the variant stage's failures take
// the position of the content list around the block.

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "field_table.hpp"
#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

using nlohmann::json;

bool fail_kind(Reader& r, const json& v, std::string_view expected) {
  return fail_unplaced(r, fmt::format(msg::invalid_type, found_json(v), expected));
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
    return fail_unplaced(r, fmt::format(msg::invalid_type, found_string(e.text), msg::expect_boolean));
  } else {
    out = std::move(e.text);
    return true;
  }
}

// A field of a variant: its key, what it takes when left out, and its reader, for a held entry of
// the object form and for an element of the array form. A string given to a text field is held as text.
template <class Block>
struct Slot {
  using block = Block;
  std::string_view key;
  Absent absent;
  bool text;
  bool (*from_entry)(Reader&, Block&, HeldEntry&);
  bool (*from_element)(Reader&, Block&, json&);
};

template <auto Member>
constexpr Slot<record_of<Member>> slot(std::string_view key, Absent absent) {
  using Block = record_of<Member>;
  using T = std::remove_cvref_t<decltype(std::declval<Block&>().*Member)>;
  return {key, absent, std::is_same_v<T, std::string> || std::is_same_v<T, std::optional<std::string>>,
          [](Reader& r, Block& b, HeldEntry& e) { return take(r, e, b.*Member); },
          [](Reader& r, Block& b, json& v) { return take(r, v, b.*Member); }};
}

using Text = RawContent::Text;
using ToolUse = RawContent::ToolUse;
using ToolResult = RawContent::ToolResult;
using Thinking = RawContent::Thinking;

constexpr std::array text_fields{slot<&Text::text>("text", Absent::fails)};
constexpr std::array tool_use_fields{
    slot<&ToolUse::id>("id", Absent::fails),
    slot<&ToolUse::name>("name", Absent::fails),
    slot<&ToolUse::input>("input", Absent::fails),
};
constexpr std::array tool_result_fields{
    slot<&ToolResult::tool_use_id>("tool_use_id", Absent::fails),
    slot<&ToolResult::content>("content", Absent::defaults),
    slot<&ToolResult::is_error>("is_error", Absent::none_in_object),
};
constexpr std::array thinking_fields{
    slot<&Thinking::thinking>("thinking", Absent::fails),
    slot<&Thinking::signature>("signature", Absent::none_in_object),
};

// The key of the tag that names a block's variant.
constexpr char tag_key[] = "type";

// A variant: the tag that names it, its name in messages and its fields.
template <const auto& Fields>
struct Variant {
  static constexpr const auto& fields = Fields;
  std::string_view tag;
  std::string_view name;
};

constexpr std::tuple variants{
    Variant<text_fields>{"text", msg::expect_text},
    Variant<tool_use_fields>{"tool_use", msg::expect_tool_use},
    Variant<tool_result_fields>{"tool_result", msg::expect_tool_result},
    Variant<thinking_fields>{"thinking", msg::expect_thinking},
};
constexpr std::size_t variant_count = std::tuple_size_v<decltype(variants)>;
// The tag of every block that names none of the variants.
constexpr std::size_t other_tag = variant_count;

// Calls `f` with the variant numbered `tag`; false for other_tag.
template <class F>
bool with_variant(std::size_t tag, F&& f) {
  return [&]<std::size_t... V>(std::index_sequence<V...>) {
    bool ok = false;
    (void)((tag == V && (ok = f(std::get<V>(variants)), true)) || ...);
    return ok;
  }(std::make_index_sequence<variant_count>{});
}

// Every key that some variant takes, with the variant and its field; the other keys are dropped by
// every variant.
struct HeldKey {
  std::string_view key;
  bool text;
  std::uint8_t variant;
  std::uint8_t slot;
};

constexpr auto held_keys = [] {
  constexpr std::size_t total = std::apply([](const auto&... v) { return (v.fields.size() + ...); }, variants);
  std::array<HeldKey, total> keys{};
  std::size_t n = 0;
  std::uint8_t variant = 0;
  std::apply(
      [&](const auto&... v) {
        const auto add = [&](const auto& fields) {
          for (std::size_t i = 0; i < fields.size(); ++i)
            keys[n++] = {fields[i].key, fields[i].text, variant, static_cast<std::uint8_t>(i)};
          ++variant;
        };
        (add(v.fields), ...);
      },
      variants);
  return keys;
}();

// A held entry keeps its key's number, so each key may name one field only.
constexpr bool keys_are_distinct() {
  for (std::size_t i = 0; i < held_keys.size(); ++i)
    for (std::size_t j = i + 1; j < held_keys.size(); ++j)
      if (held_keys[i].key == held_keys[j].key) return false;
  return true;
}
static_assert(keys_are_distinct());
static_assert(held_keys.size() < 256);

constexpr std::size_t no_key = held_keys.size();

// Held entries of the object form, in the order written: the first fault in that order wins.
template <const auto& Fields>
bool object_stage(Reader& r, std::size_t tag, RawContent& out) {
  constexpr std::size_t n = Fields.size();
  typename std::remove_cvref_t<decltype(Fields[0])>::block block;
  std::array<bool, n> seen{};
  for (HeldEntry& e : r.held) {
    const HeldKey& held = held_keys[e.field];
    if (held.variant != tag) continue;
    const std::size_t i = held.slot;
    if (seen[i]) return fail_unplaced(r, fmt::format(msg::duplicate_field, Fields[i].key));
    seen[i] = true;
    if (!Fields[i].from_entry(r, block, e)) return false;
  }
  for (std::size_t i = 0; i < n; ++i)
    if (!seen[i] && Fields[i].absent == Absent::fails)
      return fail_unplaced(r, fmt::format(msg::missing_field, Fields[i].key));
  out.value = std::move(block);
  return true;
}

bool fail_length(Reader& r, std::size_t count, std::string_view expected) {
  return fail_unplaced(r, fmt::format(msg::invalid_length, count, expected));
}

bool fail_too_many(Reader& r, std::size_t count, std::size_t fields) {
  return fail_length(r, count, msg::expect_in_sequence(fields));
}

// The array form: the elements after the tag are the fields in order. Every element present is
// converted before a shortfall or a surplus is reported.
template <const auto& Fields>
bool array_stage(Reader& r, std::vector<json>& elements, std::size_t count, std::string_view name,
                 RawContent& out) {
  constexpr std::size_t n = Fields.size();
  typename std::remove_cvref_t<decltype(Fields[0])>::block block;
  for (std::size_t i = 0; i < n; ++i) {
    if (i < count) {
      if (!Fields[i].from_element(r, block, elements[i])) return false;
    } else if (Fields[i].absent != Absent::defaults) {
      return fail_length(r, i, msg::expect_length(name, n));
    }
  }
  if (count > n) return fail_too_many(r, count, n);
  out.value = std::move(block);
  return true;
}

// The tag: a JSON string. Every text but the variants' tags gives other_tag.
bool read_content_tag(Reader& r, std::size_t& tag) {
  std::string_view text;
  if (!read_string_value(r, text, msg::expect_variant)) return false;
  tag = other_tag;
  [&]<std::size_t... V>(std::index_sequence<V...>) {
    (void)((text == std::get<V>(variants).tag && (tag = V, true)) || ...);
  }(std::make_index_sequence<variant_count>{});
  return true;
}

bool read_object_block(Reader& r, RawContent& out) {
  r.held.clear();
  std::size_t tag = other_tag;
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
    if (is_key(key, tag_key)) {
      // A second tag fails before its value is looked at.
      if (tagged) {
        ok = fail_unplaced(r, fmt::format(msg::duplicate_field, tag_key));
        break;
      }
      if (!take_colon(r) || !read_content_tag(r, tag)) {
        ok = false;
        break;
      }
      tagged = true;
      continue;
    }
    const std::size_t field = field_index<held_keys>(key);
    if (!take_colon(r)) {
      ok = false;
      break;
    }
    // Before the tag every field name may matter; after it only the variant's own.
    if (field != no_key && (!tagged || held_keys[field].variant == tag)) {
      HeldEntry& entry = r.held.emplace_back(HeldEntry{static_cast<std::uint8_t>(field), json(), {}, false});
      if (held_keys[field].text && peek_ws(r) == '"') {
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
  if (ok && !tagged) ok = fail_unplaced(r, fmt::format(msg::missing_field, tag_key));
  const bool closed = end_object(r, ok);
  leave(r);
  if (!ok || !closed) {
    place(r);
    return false;
  }
  if (tag != other_tag)
    return with_variant(tag, [&]<class V>(const V&) { return object_stage<V::fields>(r, tag, out); });
  out.value = RawContent::Other{};
  return true;
}

bool read_array_block(Reader& r, RawContent& out) {
  std::vector<json> elements;
  std::size_t count = 0;
  std::size_t tag = other_tag;
  bool first = true;
  bool more = false;
  bool ok = next_element(r, first, more);
  if (ok && !more) ok = fail_unplaced(r, fmt::format(msg::missing_field, tag_key));
  if (ok) ok = read_content_tag(r, tag);
  std::size_t fields = 0;
  with_variant(tag, [&](const auto& variant) {
    fields = variant.fields.size();
    return true;
  });
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
  if (tag != other_tag)
    return with_variant(tag, [&]<class V>(const V& variant) {
      return array_stage<V::fields>(r, elements, count, variant.name, out);
    });
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
