// Any bytes as one log line: the reader must not crash, leak, hang or recurse without bound, and
// every failure must name a position inside the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session_log/raw.hpp"

namespace {

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
  check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
