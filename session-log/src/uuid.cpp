#include "session_log/uuid.hpp"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "base/hex.hpp"
#include "messages.hpp"

namespace orvik::session_log {
namespace {

using base::hex_value;

// Random bytes are fetched from the kernel a page at a time: one system call per id would cost
// more than the rest of a line's conversion. The pool is per thread; a forked child must exec
// before it draws ids, or it would repeat its parent's.
void random_bytes(std::uint8_t* out, std::size_t count) {
  thread_local std::array<std::uint8_t, 4096> pool;
  thread_local std::size_t left = 0;
  while (count > 0) {
    if (left == 0) {
      std::size_t filled = 0;
      while (filled < pool.size()) {
        const ssize_t n = getrandom(pool.data() + filled, pool.size() - filled, 0);
        if (n < 0) {
          if (errno == EINTR) continue;
          std::fwrite(msg::random_source_unreadable.data(), 1, msg::random_source_unreadable.size(), stderr);
          std::abort();
        }
        filled += static_cast<std::size_t>(n);
      }
      left = pool.size();
    }
    const std::size_t take = std::min(count, left);
    std::uint8_t* from = pool.data() + (pool.size() - left);
    std::memcpy(out, from, take);
    std::memset(from, 0, take);  // a byte is handed out once
    out += take;
    count -= take;
    left -= take;
  }
}

// Reads 32 hex digits from `text`, skipping hyphens at the given positions of the hyphenated form.
std::optional<Uuid> parse_digits(std::string_view text, bool hyphenated) {
  Uuid id;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (hyphenated && (i == 4 || i == 6 || i == 8 || i == 10)) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    const int hi = hex_value(text[pos]);
    const int lo = hex_value(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    id.bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    pos += 2;
  }
  return id;
}

}  // namespace

Uuid Uuid::new_v4() {
  Uuid id;
  random_bytes(id.bytes.data(), id.bytes.size());
  id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0f) | 0x40);
  id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3f) | 0x80);
  return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  switch (text.size()) {
    case 32:
      return parse_digits(text, false);
    case 36:
      return parse_digits(text, true);
    case 38:
      if (text.front() != '{' || text.back() != '}') return std::nullopt;
      return parse_digits(text.substr(1, 36), true);
    case 45:
      if (!text.starts_with("urn:uuid:")) return std::nullopt;
      return parse_digits(text.substr(9), true);
    default:
      return std::nullopt;
  }
}

bool Uuid::is_nil() const { return *this == Uuid{}; }

std::string Uuid::to_string() const {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    const unsigned byte = bytes[i];
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 0x0f]);
  }
  return out;
}

}  // namespace orvik::session_log
