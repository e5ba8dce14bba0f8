#include "shown.hpp"

#include <utf8proc.h>

#include "base/utf8.hpp"
#include "session_log/json_text.hpp"

namespace orvik::ui {

namespace {

// The first `count` characters of `text`, or all of it.
std::string_view first_chars(std::string_view text, std::uint64_t count) {
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < count && pos < text.size(); ++i) (void)base::next_char_or_fffd(text, pos);
  return text.substr(0, pos);
}

// Takes compact JSON text piece by piece until it holds `left` characters; `cut` once a piece did not fit.
struct Sink {
  std::string out;
  std::uint64_t left;
  bool cut = false;

  bool put(std::string_view piece) {
    const auto kept = first_chars(piece, left);
    out.append(kept);
    for (std::size_t pos = 0; pos < kept.size(); --left) (void)base::next_char_or_fffd(kept, pos);
    if (kept.size() < piece.size()) cut = true;
    return !cut;
  }

  // Escaping never shortens a text, so one character more than fits is enough to know it was cut.
  bool put_string(const std::string& text) {
    const auto head = first_chars(text, left + 1);
    std::string quoted = session_log::compact_json(nlohmann::json(std::string(head)));
    if (head.size() < text.size()) quoted.pop_back();  // the closing quote belongs after the whole text
    return put(quoted);
  }

  bool put_value(const nlohmann::json& value) {
    switch (value.type()) {
      case nlohmann::json::value_t::string: return put_string(value.get_ref<const std::string&>());
      case nlohmann::json::value_t::array: {
        if (!put("[")) return false;
        bool first = true;
        for (const auto& element : value) {
          if (!first && !put(",")) return false;
          first = false;
          if (!put_value(element)) return false;
        }
        return put("]");
      }
      case nlohmann::json::value_t::object: {
        if (!put("{")) return false;
        bool first = true;
        for (const auto& [key, member] : value.items()) {
          if (!first && !put(",")) return false;
          first = false;
          if (!put_string(key) || !put(":") || !put_value(member)) return false;
        }
        return put("}");
      }
      default: return put(session_log::compact_json(value));  // a scalar: a few characters at most
    }
  }
};

}  // namespace

std::string_view shown_prefix(std::string_view text, std::size_t cells, std::size_t* clusters) {
  std::size_t count = 0, pos = 0;
  utf8proc_int32_t prev = -1, state = 0;
  while (pos < text.size()) {
    std::size_t next = pos;
    const auto cp = static_cast<utf8proc_int32_t>(base::next_char_or_fffd(text, next));
    if (prev < 0 || utf8proc_grapheme_break_stateful(prev, cp, &state)) {
      if (count > cells) break;
      ++count;
    }
    prev = cp;
    pos = next;
  }
  if (clusters) *clusters = count;
  return text.substr(0, pos);
}

std::string compact_json_preview(const nlohmann::json& value, std::uint64_t max_chars) {
  Sink sink{.out = {}, .left = max_chars};
  sink.put_value(value);
  // Compact JSON neither starts nor ends with white space, so there is nothing to trim.
  if (sink.cut) sink.out += "…";
  return std::move(sink.out);
}

}  // namespace orvik::ui
