#pragma once

#include <expected>
#include <string>
#include <vector>

namespace orvik {

// A general error: a message and the chain of its causes, the direct cause first.
struct Error {
  std::string message;
  std::vector<std::string> causes;
};

template <class T = void>
using Result = std::expected<T, Error>;

// The system's description of an error number with the number: "No such file or directory (os error 2)".
std::string os_error_text(int errnum);

// An error whose message is os_error_text(errnum).
Error os_error(int errnum);

}  // namespace orvik
