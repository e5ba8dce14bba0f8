#include "session_log/json_text.hpp"

#include <cmath>

#include <fmt/format.h>

#include "base/utf8.hpp"
#include "reader.hpp"

namespace orvik::session_log {
namespace {

void write_string(std::string& out, const std::string& text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      // Values read from a log are UTF-8; anything else becomes U+FFFD, a byte at a time, rather than
      // broken text.
      std::size_t end = i;
      if (base::next_char(text, end)) {
        out.append(text, i, end - i);
        i = end - 1;
      } else {
        out += "\xEF\xBF\xBD";
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(hex[c >> 4]);
          out.push_back(hex[c & 0xf]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

void write_float(std::string& out, double v) {
  // JSON has no NaN or infinity; only a value built by hand can hold one.
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  // The shortest form of the messages, but with no plus sign in the exponent.
  for (const char c : format_double(v))
    if (c != '+') out.push_back(c);
}

void write(std::string& out, const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::null:
    case nlohmann::json::value_t::discarded: out += "null"; break;
    case nlohmann::json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
    case nlohmann::json::value_t::number_unsigned:
      fmt::format_to(std::back_inserter(out), "{}", value.get<std::uint64_t>());
      break;
    case nlohmann::json::value_t::number_integer:
      fmt::format_to(std::back_inserter(out), "{}", value.get<std::int64_t>());
      break;
    case nlohmann::json::value_t::number_float: write_float(out, value.get<double>()); break;
    case nlohmann::json::value_t::string: write_string(out, value.get_ref<const std::string&>()); break;
    case nlohmann::json::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : value) {
        if (!first) out.push_back(',');
        first = false;
        write(out, element);
      }
      out.push_back(']');
      break;
    }
    case nlohmann::json::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out.push_back(',');
        first = false;
        write_string(out, key);
        out.push_back(':');
        write(out, member);
      }
      out.push_back('}');
      break;
    }
    case nlohmann::json::value_t::binary: out += "null"; break;
  }
}

}  // namespace

std::string compact_json(const nlohmann::json& value) {
  std::string out;
  write(out, value);
  return out;
}

}  // namespace orvik::session_log
