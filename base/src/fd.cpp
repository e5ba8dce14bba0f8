#include "base/fd.hpp"

#include <poll.h>

#include <cerrno>

namespace orvik::base {

std::expected<std::size_t, int> read_some(int fd, void* into, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, into, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(errno);
  }
}

Result<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Someone made the descriptor non-blocking; wait until it takes more.
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return last_os_error();
      continue;
    }
    return last_os_error();
  }
  return {};
}

}  // namespace orvik::base
