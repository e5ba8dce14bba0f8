// Any bytes as one log line: parse_line gives events or an error, and never stops the program.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "session_log/parse_line.hpp"
#include "session_log/timestamp.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvik::session_log;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  (void)parse_rfc3339(line);
  const auto result = parse_line(line);
  if (!result) {
    (void)display_parse_error(result.error());
    return 0;
  }
  for (const auto& event : *result) {
    // Every event of a line shares its session, time and side-chain mark.
    if (event.session_id != result->front().session_id || event.timestamp != result->front().timestamp ||
        event.is_sidechain != result->front().is_sidechain) {
      __builtin_trap();
    }
  }
  return 0;
}
