#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace orvik::cli::child {

struct Finished {
  std::string out{}, err{};
  int status = -1;  // the exit status, or 128 + the signal that ended it
};

struct Launch {
  std::string path{};               // the file to execute
  std::vector<std::string> argv{};  // argv[0] included, as the child sees it
  std::vector<std::string> env{};   // the child's whole environment
  std::string cwd{};                // empty: ours
  bool broken_stdout = false;       // stdout and stderr are pipes nobody reads from
};

namespace detail {

inline std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (auto& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

[[noreturn]] inline void exec(Launch l) {
  if (!l.cwd.empty() && ::chdir(l.cwd.c_str()) != 0) ::_exit(126);
  auto argv = pointers(l.argv);
  auto env = pointers(l.env);
  ::execve(l.path.c_str(), argv.data(), env.data());
  ::_exit(127);
}

inline int wait_status(pid_t pid) {
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace detail

// Runs a program with its stdout and stderr captured through pipes, stdin closed, and waits for it.
inline Finished run(const Launch& l) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(STDIN_FILENO);
    if (l.broken_stdout) {
      ::close(out[0]);
      ::close(err[0]);
    }
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    detail::exec(l);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (l.broken_stdout) {
    ::close(out[0]);
    ::close(err[0]);
    return {{}, {}, detail::wait_status(pid)};
  }
  Finished f;
  pollfd fds[] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[] = {&f.out, &f.err};
  for (int open = 2; open > 0;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const auto n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  f.status = detail::wait_status(pid);
  return f;
}

// Runs a program on a new pseudo-terminal (all three streams) and returns what it wrote there, in `out`.
inline Finished run_on_terminal(const Launch& l) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return {};
  if (pid == 0) detail::exec(l);
  Finished f;
  for (;;) {
    char buf[4096];
    const auto n = ::read(master, buf, sizeof buf);
    if (n > 0) {
      f.out.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed its side
    }
  }
  ::close(master);
  f.status = detail::wait_status(pid);
  return f;
}

}  // namespace orvik::cli::child
