#pragma once

#include <unistd.h>

#include <utility>

namespace orvik::cli {

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

}  // namespace orvik::cli
