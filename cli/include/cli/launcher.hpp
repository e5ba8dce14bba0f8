#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/error.hpp"

namespace orvik::cli {

// A terminal emulator and the argument it takes before the program it should run.
struct Terminal {
  std::string_view program;
  std::string_view argument;
};

// The emulators tried, in order.
inline constexpr std::array<Terminal, 5> TERMINALS{{
    {"gnome-terminal", "--"},
    {"xterm", "-e"},
    {"konsole", "-e"},
    {"alacritty", "-e"},
    {"kitty", "-e"},
}};

// The path of the running executable, read from `link`; fails when the link cannot be read or its target is
// not UTF-8.
Result<std::string> executable_path(const char* link = "/proc/self/exe");

// Starts the first emulator of TERMINALS that PATH yields, running this executable with no arguments, and
// prints which one on stdout. The child is not waited for. Fails when the path is unknown or none starts.
Result<void> launch_detached();

}  // namespace orvik::cli
