// JSON values read whole, for tool inputs, tool-result contents and the other members of a block.

#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

using nlohmann::json;

// Build is false for members that no field takes: they are checked by the same rules (budget,
// number range, escapes) but not kept. Recursion is bounded by the budget.
template <bool Build>
bool any_value(Reader& r, json* out) {
  const int c = peek_ws(r);
  switch (c) {
    case end_of_line: return fail_peek(r, msg::eof_value);
    case 'n':
      ++r.pos;
      if (!read_literal_rest(r, "ull")) return false;
      if constexpr (Build) *out = nullptr;
      return true;
    case 't':
      ++r.pos;
      if (!read_literal_rest(r, "rue")) return false;
      if constexpr (Build) *out = true;
      return true;
    case 'f':
      ++r.pos;
      if (!read_literal_rest(r, "alse")) return false;
      if constexpr (Build) *out = false;
      return true;
    case '"': {
      ++r.pos;
      std::string_view text;
      if (!read_string_body(r, text)) return false;
      if constexpr (Build) *out = json::string_t(text);
      return true;
    }
    case '[': {
      if (!enter(r)) return false;
      json::array_t* items = nullptr;
      if constexpr (Build) {
        *out = json::array();
        items = out->get_ptr<json::array_t*>();
      }
      bool first = true;
      bool more = false;
      for (;;) {
        if (!next_element(r, first, more)) return false;
        if (!more) break;
        if constexpr (Build) {
          if (!any_value<true>(r, &items->emplace_back())) return false;
        } else if (!any_value<false>(r, nullptr)) {
          return false;
        }
      }
      ++r.pos;  // the "]" that ended the elements
      leave(r);
      return true;
    }
    case '{': {
      if (!enter(r)) return false;
      json::object_t* members = nullptr;
      if constexpr (Build) {
        *out = json::object();
        members = out->get_ptr<json::object_t*>();
      }
      bool first = true;
      bool more = false;
      for (;;) {
        std::string_view key;
        if (!next_key(r, first, more, key)) return false;
        if (!more) break;
        if constexpr (Build) {
          // Keys mostly come sorted, so the end is the usual place; a repeated key is overwritten.
          json& slot = members->try_emplace(members->end(), json::string_t(key))->second;
          if (!take_colon(r) || !any_value<true>(r, &slot)) return false;
        } else if (!take_colon(r) || !any_value<false>(r, nullptr)) {
          return false;
        }
      }
      ++r.pos;  // the "}" that ended the members
      leave(r);
      return true;
    }
    default: break;
  }
  if (c != '-' && (c < '0' || c > '9')) return fail_peek(r, msg::expected_value);
  const bool positive = c != '-';
  if (!positive) ++r.pos;
  Number n;
  if (!read_number(r, positive, n)) return false;
  if constexpr (Build) {
    switch (n.kind) {
      case Number::Kind::unsigned_int: *out = n.u; break;
      case Number::Kind::signed_int: *out = n.i; break;
      case Number::Kind::floating: *out = n.f; break;
    }
  }
  return true;
}

}  // namespace

bool read_json_value(Reader& r, json& out) { return any_value<true>(r, &out); }
bool check_json_value(Reader& r) { return any_value<false>(r, nullptr); }

}  // namespace orvik::session_log
