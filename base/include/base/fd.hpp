#pragma once

#include <unistd.h>

#include <cstddef>
#include <expected>
#include <string_view>
#include <utility>

#include "base/error.hpp"

namespace orvik::base {

// Owns one file descriptor; -1 when empty.
struct Fd {
  int fd = -1;

  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd = std::exchange(other.fd, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  // Not retried on EINTR: Linux has already released the descriptor.
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// Every read and write of a whole text goes through these two, so EINTR is retried in one place.

// One read(2) of at most `size` bytes, retried on EINTR: the count read (0 at the end), or the error number,
// which the caller judges (EAGAIN on a non-blocking descriptor is no failure to most).
std::expected<std::size_t, int> read_some(int fd, void* into, std::size_t size);

// Writes all of `bytes`, retrying short writes, EINTR, and EAGAIN on a non-blocking descriptor (waiting
// until it takes more). Fails with the system's error, the rest unwritten; a caller that has nowhere to
// report it ignores the result explicitly.
Result<void> write_all(int fd, std::string_view bytes);

}  // namespace orvik::base
