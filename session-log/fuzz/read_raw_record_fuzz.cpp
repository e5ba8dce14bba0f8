// Any bytes as one log line: the reader must not crash, leak, hang or recurse without bound, and
// every failure must name a position inside the line. The same bytes as the body of a string must
// read alike whether decoded or skipped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../src/reader.hpp"
#include "session_log/raw.hpp"

namespace {

using orvik::session_log::Reader;

// The string paths read sixteen bytes at a time; a byte-by-byte decoder of the same grammar must
// agree with them on every input, wherever the escapes fall against the blocks.
bool reference_string(std::string_view s, std::string& out, std::size_t& end) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i++]);
    if (c == '"') {
      end = i;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (i == s.size()) return false;
    switch (s[i++]) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '/': out.push_back('/'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      default: return false;  // \u is left to the readers' own tests
    }
  }
  return false;
}

void check_strings(std::string_view body) {
  if (body.find("\\u") != std::string_view::npos) return;
  Reader skipped{.line = body};
  Reader decoded{.line = body};
  std::string_view text;
  const bool skip_ok = orvik::session_log::skip_string_body(skipped);
  const bool read_ok = orvik::session_log::read_string_body(decoded, text);
  std::string expected;
  std::size_t end = 0;
  const bool reference_ok = reference_string(body, expected, end);
  if (skip_ok != read_ok || read_ok != reference_ok) std::abort();
  if (read_ok && (text != expected || skipped.pos != end || decoded.pos != end)) std::abort();
  if (!read_ok && (skipped.error != decoded.error || skipped.error_index != decoded.error_index)) std::abort();
}

void check(std::string_view line) {
  const auto record = orvik::session_log::read_raw_record(line);
  if (record) return;
  const std::string& message = record.error();
  const std::size_t at = message.rfind(" at line ");
  const std::size_t column = message.rfind(" column ");
  if (at == std::string::npos || column == std::string::npos || at == 0 || column < at) std::abort();
  if (std::strtoull(message.c_str() + column + 8, nullptr, 10) > line.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Depth far beyond the budget, in skipped and in typed positions, must stay flat on the stack.
  const std::string deep(200000, '[');
  check(R"({"x":)" + deep);
  check(R"({"message":{"content":[{"type":"tool_use","id":"i","name":"n","input":)" + deep);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check(input);
  check_strings(input);
  return 0;
}
