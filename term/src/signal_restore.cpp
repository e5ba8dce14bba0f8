#include "signal_restore.hpp"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string_view>

#include "term/terminal.hpp"

namespace orvik::term {

namespace {

enum Owed : std::uint8_t { NOTHING, LEAVE_AND_SHOW, SHOW };

// The tear-down's two writes in one.
constexpr std::string_view LEAVE_AND_SHOW_BYTES = "\x1b[?1049l\x1b[?25h";
static_assert(LEAVE_AND_SHOW_BYTES.substr(0, LEAVE_ALTERNATE_SCREEN.size()) == LEAVE_ALTERNATE_SCREEN &&
              LEAVE_AND_SHOW_BYTES.substr(LEAVE_ALTERNATE_SCREEN.size()) == SHOW_CURSOR);

// Written only while the matching flag says nobody reads them.
int settings_fd = -1;
termios settings{};
std::atomic<bool> settings_held{false};
std::atomic<int> screen_fd{-1};
std::atomic<std::uint8_t> owed{NOTHING};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::uint8_t>::is_always_lock_free);

// How long the handler waits for a terminal that takes no output (stopped by flow control, say): the process
// must still end.
constexpr int WRITE_PATIENCE_MS = 1000;

// Async-signal-safe: poll(2) and write(2) only, retried on EINTR and short writes; anything else gives up.
void write_raw(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, WRITE_PATIENCE_MS);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || !(p.revents & POLLOUT)) return;
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0)
      bytes.remove_prefix(static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      return;
  }
}

// The tear-down, in its order: the settings found, the main screen, the cursor shown.
extern "C" void on_ending_signal(int sig) {
  const int saved_errno = errno;
  if (settings_held.load()) (void)::tcsetattr(settings_fd, TCSANOW, &settings);
  const int fd = screen_fd.load();
  switch (owed.load()) {
    case LEAVE_AND_SHOW: write_raw(fd, LEAVE_AND_SHOW_BYTES); break;
    case SHOW: write_raw(fd, SHOW_CURSOR); break;
    default: break;
  }
  errno = saved_errno;
  // SA_RESETHAND has put the default action back and SA_NODEFER leaves the signal unblocked, so this ends the
  // process as the signal would have.
  ::raise(sig);
}

}  // namespace

namespace signal_restore {

bool hold_settings(int fd, const termios& saved) {
  if (settings_held.load()) return false;
  settings_fd = fd;
  settings = saved;
  settings_held.store(true);
  return true;
}

void drop_settings() { settings_held.store(false); }

void screen_entered(int fd) {
  screen_fd.store(fd);
  owed.store(LEAVE_AND_SHOW);
}

void screen_left(int fd) {
  if (screen_fd.load() == fd) owed.store(SHOW);
}

void screen_not_entered(int fd) {
  if (screen_fd.load() == fd) owed.store(NOTHING);
}

void cursor_shown(int fd) {
  std::uint8_t show = SHOW;
  if (screen_fd.load() == fd) owed.compare_exchange_strong(show, NOTHING);
}

}  // namespace signal_restore

RestoreOnSignals::RestoreOnSignals() {
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);  // an int field for unsigned flags
  // The other ending signals wait while one is handled; the handler's own may come again and end it at once.
  sigemptyset(&action.sa_mask);
  for (int sig : SIGNALS) sigaddset(&action.sa_mask, sig);
  for (std::size_t i = 0; i < std::size(SIGNALS); ++i) {
    if (::sigaction(SIGNALS[i], nullptr, &previous_[i]) != 0) continue;
    const bool by_default = !(previous_[i].sa_flags & SA_SIGINFO) && previous_[i].sa_handler == SIG_DFL;
    if (by_default) installed_[i] = ::sigaction(SIGNALS[i], &action, nullptr) == 0;
  }
}

RestoreOnSignals::~RestoreOnSignals() {
  for (std::size_t i = 0; i < std::size(SIGNALS); ++i)
    if (installed_[i]) ::sigaction(SIGNALS[i], &previous_[i], nullptr);
}

sigset_t kill_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&set, sig);
  return set;
}

}  // namespace orvik::term
