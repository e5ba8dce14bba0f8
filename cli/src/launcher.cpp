#include "cli/launcher.hpp"

#include <fmt/format.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "base/fd.hpp"
#include "base/utf8.hpp"
#include "messages.hpp"

extern char** environ;

namespace orvik::cli {
namespace {

// Starts `program` found through PATH with our environment and streams; the emulator outlives us, so the
// child is left unwaited. It gets the default SIGPIPE disposition back, since we ignore that signal.
bool spawn(std::string_view program, std::string_view argument, const std::string& exe) {
  std::string name(program), arg(argument), path(exe);
  char* argv[] = {name.data(), arg.data(), path.data(), nullptr};
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  bool ok = posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
            posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF) == 0;
  pid_t pid = 0;
  ok = ok && posix_spawnp(&pid, name.c_str(), nullptr, &attr, argv, environ) == 0;
  posix_spawnattr_destroy(&attr);
  return ok;
}

}  // namespace

Result<std::string> executable_path(const char* link) {
  std::vector<char> buf(256);
  for (;;) {
    const auto n = ::readlink(link, buf.data(), buf.size());
    if (n < 0) {
      const int err = errno;
      return std::unexpected(Error{std::string(msg::no_executable_path),
                                   {err == ENOENT ? std::string(msg::no_proc) : os_error_text(err)}});
    }
    if (static_cast<std::size_t>(n) < buf.size()) {
      std::string path(buf.data(), static_cast<std::size_t>(n));
      if (!base::is_utf8(path)) return std::unexpected(Error{std::string(msg::path_not_utf8), {}});
      return path;
    }
    buf.resize(buf.size() * 2);  // the target may have been cut short
  }
}

Result<void> launch_detached() {
  auto exe = executable_path();
  if (!exe) return std::unexpected(std::move(exe.error()));
  for (const auto& t : TERMINALS) {
    if (!spawn(t.program, t.argument, *exe)) continue;
    // The emulator has started: a closed stdout does not undo that.
    (void)base::write_all(STDOUT_FILENO, fmt::format(msg::launched, t.program));
    return {};
  }
  std::vector<std::string_view> names;
  for (const auto& t : TERMINALS) names.push_back(t.program);
  return std::unexpected(Error{fmt::format(msg::no_terminal, fmt::join(names, ", ")), {}});
}

}  // namespace orvik::cli
