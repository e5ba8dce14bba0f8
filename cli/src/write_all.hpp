#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace orvik::cli {

// Writes the whole text to `fd`. A failed write drops the rest: the callers' outcome does not hang on it.
inline void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const auto n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace orvik::cli
