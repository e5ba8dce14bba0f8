#pragma once

#include <expected>
#include <string>
#include <vector>

// The project-wide error vocabulary, in the top namespace: every library speaks it.
namespace orvik {

// A general error: a message and the chain of its causes, the direct cause first.
struct Error {
  std::string message;
  std::vector<std::string> causes;
};

// Spelt `Result<void>` for an outcome without a value; there is no default, so there is one spelling.
template <class T>
using Result = std::expected<T, Error>;

// The system's description of an error number with the number: "No such file or directory (os error 2)".
std::string os_error_text(int errnum);

// An error whose message is os_error_text(errnum).
Error os_error(int errnum);

// os_error(errno), ready to return.
std::unexpected<Error> last_os_error();

}  // namespace orvik
