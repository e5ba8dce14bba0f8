// How a value of the wrong kind is shown in a message.

#include <charconv>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>
#include <utf8proc.h>

#include "base/utf8.hpp"
#include "messages.hpp"
#include "reader.hpp"

namespace orvik::session_log {

namespace {

bool needs_escape(std::int32_t cp) {
  if (cp == ' ') return false;
  const utf8proc_property_t* p = utf8proc_get_property(cp);
  switch (p->category) {
    case UTF8PROC_CATEGORY_CC: case UTF8PROC_CATEGORY_CF: case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO: case UTF8PROC_CATEGORY_CN: case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP: case UTF8PROC_CATEGORY_ZS:
      return true;
    default: break;
  }
  // The grapheme-break class Extend is Grapheme_Extend plus the emoji skin-tone modifiers.
  return p->boundclass == UTF8PROC_BOUNDCLASS_EXTEND && !(cp >= 0x1f3fb && cp <= 0x1f3ff);
}

}  // namespace

std::string format_double(double v) {
  if (v == 0) return std::signbit(v) ? "-0.0" : "0.0";
  // The shortest digits that read back as v, as d.ddde±x.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t e_at = sci.find('e');
  const bool negative = sci.front() == '-';
  std::string digits;
  for (const char c : sci.substr(negative ? 1 : 0, e_at - (negative ? 1 : 0)))
    if (c != '.') digits.push_back(c);
  const int exponent = std::atoi(std::string(sci.substr(e_at + 1)).c_str());
  const auto count = static_cast<int>(digits.size());

  std::string out = negative ? "-" : "";
  if (exponent >= -5 && exponent < 16) {
    if (exponent >= 0) {
      if (count <= exponent + 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent + 1 - count), '0');
        out += ".0";
      } else {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1));
      }
    } else {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    }
    return out;
  }
  out += digits[0];
  if (count > 1) {
    out += '.';
    out.append(digits, 1);
  }
  fmt::format_to(std::back_inserter(out), "e{}{}", exponent < 0 ? '-' : '+', std::abs(exponent));
  return out;
}

std::string found_number(const Number& n) {
  switch (n.kind) {
    case Number::Kind::unsigned_int: return fmt::format(msg::found_integer, n.u);
    case Number::Kind::signed_int: return fmt::format(msg::found_integer, n.i);
    case Number::Kind::floating: break;
  }
  return fmt::format(msg::found_float, format_double(n.f));
}

std::string found_string(std::string_view s) {
  std::string quoted = "\"";
  for (std::size_t pos = 0; pos < s.size();) {
    const char c = s[pos];
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      quoted.push_back(c);
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const auto cp = base::next_char(s, pos);
    if (!cp) {  // not UTF-8: each byte shown as the replacement character
      quoted += "\xef\xbf\xbd";
      pos = start + 1;
      continue;
    }
    switch (*cp) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\t': quoted += "\\t"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case 0: quoted += "\\0"; break;
      default:
        if (needs_escape(static_cast<std::int32_t>(*cp))) {
          fmt::format_to(std::back_inserter(quoted), "\\u{{{:x}}}", static_cast<std::uint32_t>(*cp));
        } else {
          quoted.append(s, start, pos - start);
        }
    }
  }
  quoted.push_back('"');
  return fmt::format(msg::found_string, quoted);
}

std::string found_json(const nlohmann::json& v) {
  using T = nlohmann::json::value_t;
  switch (v.type()) {
    case T::null: return std::string(msg::found_null);
    case T::boolean: return fmt::format(msg::found_boolean, v.get<bool>() ? "true" : "false");
    case T::number_unsigned:
      return fmt::format(msg::found_integer, v.get<std::uint64_t>());
    case T::number_integer: return fmt::format(msg::found_integer, v.get<std::int64_t>());
    case T::number_float:
      return fmt::format(msg::found_float, format_double(v.get<double>()));
    case T::string: return found_string(v.get_ref<const std::string&>());
    case T::array: return std::string(msg::found_sequence);
    case T::object: return std::string(msg::found_map);
    case T::binary: case T::discarded: break;
  }
  return std::string(msg::found_map);
}

}  // namespace orvik::session_log
