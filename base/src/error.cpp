#include "base/error.hpp"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace orvik {

std::string os_error_text(int errnum) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  const char* text = strerror_r(errnum, buf, sizeof buf);
  return fmt::format("{} (os error {})", text, errnum);
}

Error os_error(int errnum) { return Error{os_error_text(errnum), {}}; }

std::unexpected<Error> last_os_error() { return std::unexpected(os_error(errno)); }

}  // namespace orvik
