// run_tui in a child process whose controlling terminal is a pseudo-terminal; the test plays the user on
// the master side.
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <chrono>
#include <cstring>
#include <string>
#include <fstream>
#include <functional>
#include <new>

#include "term/terminal.hpp"
#include "ui/tui.hpp"

namespace orvik::ui {
namespace {

using namespace std::chrono_literals;
using session_log::SessionEvent;

constexpr std::string_view FIRST_FRAME_MARK = "Waiting for session events…";
constexpr std::string_view QUIT_TAIL = "\x1b[?1049l\x1b[?25h";

// Exit statuses of the child.
constexpr int RETURNED_OK = 0;
constexpr int RETURNED_ERROR = 1;
constexpr int SETTINGS_CHANGED = 2;
constexpr int THREW = 3;

bool same_settings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// Runs run_tui with the channel's receiving end; `feed` gets the sending end first (drop it to close). The test
// holds the terminal's other side open too, as the shell that started the dashboard would, so its settings
// outlive the child and can be compared with those from before the start.
struct Dashboard {
  pid_t pid = -1;
  int master = -1;
  int slave = -1;
  termios before{};
  std::string output;
  int status = -1;

  explicit Dashboard(std::function<void(base::Sender<SessionEvent>&)> feed = {}, std::uint16_t cols = 80,
                     std::uint16_t rows = 24) {
    winsize ws{rows, cols, 0, 0};
    if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return;
    // Settings no default would put back.
    termios start{};
    ::tcgetattr(slave, &start);
    start.c_cc[VINTR] = 0x07;
    start.c_lflag &= ~static_cast<tcflag_t>(ECHOCTL);
    ::tcsetattr(slave, TCSANOW, &start);
    ::tcgetattr(slave, &before);
    pid = ::fork();
    if (pid == 0) {
      ::alarm(120);  // a dashboard that never quits must not outlive the test
      const rlimit no_core{0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);  // the signals that dump core
      ::setsid();
      ::ioctl(slave, TIOCSCTTY, 0);
      for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(slave, fd);
      ::close(slave);
      ::close(master);
      termios at_start{}, after{};
      ::tcgetattr(STDIN_FILENO, &at_start);
      auto [tx, rx] = base::channel<SessionEvent>();
      std::optional<base::Sender<SessionEvent>> sender(std::move(tx));
      if (feed) feed(*sender);
      try {
        const auto result = run_tui(std::move(rx));
        ::tcgetattr(STDIN_FILENO, &after);
        ::_exit(!result ? RETURNED_ERROR : same_settings(at_start, after) ? RETURNED_OK : SETTINGS_CHANGED);
      } catch (const std::bad_alloc&) {
        ::_exit(THREW);
      }
    }
  }
  ~Dashboard() {
    if (status == -1 && pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }

  // Reads until `done` holds for the output so far, the child's side closes, or a generous time passes.
  bool read_until(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    while (!done(output)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const auto n = ::read(master, buf, sizeof buf);
      if (n <= 0) return done(output);  // EIO once the terminal has hung up and everything is read
      output.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  bool shows(std::string_view text) {
    return read_until([&](const std::string& out) { return out.find(text) != std::string::npos; });
  }
  void type(std::string_view keys) { ASSERT_TRUE(base::write_all(master, keys)); }

  // Waits for the child to end, reading what it writes meanwhile and after; 128 + the signal that ended it.
  int exit_status() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    int raw = 0;
    pid_t ended = 0;
    while (ended == 0 && std::chrono::steady_clock::now() < deadline) {
      read_until([](const std::string&) { return false; }, 50ms);
      ended = ::waitpid(pid, &raw, WNOHANG);
    }
    if (ended != pid) return -1;
    read_until([](const std::string&) { return false; }, 200ms);  // what is still on its way
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status;
  }
  // Still running after a while in which a quit would have ended it.
  bool still_running() {
    read_until([](const std::string&) { return false; }, 1s);
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
  }
  termios settings() const {
    termios now{};
    ::tcgetattr(slave, &now);
    return now;
  }
};

// Everything until end of file, then closes `fd`.
std::string read_all(int fd) {
  std::string s;
  char buf[256];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return s;
}

bool ends_with(std::string_view s, std::string_view tail) { return s.size() >= tail.size() && s.ends_with(tail); }

TEST(RunTui, QuitKeysEndItCleanly) {
  for (std::string_view key : {"q", "\x1b", "\x11", "\x1bq"}) {  // q, Esc, Ctrl+q, Alt+q
    Dashboard d;
    ASSERT_TRUE(d.shows(FIRST_FRAME_MARK)) << d.output;
    EXPECT_TRUE(d.output.starts_with(term::ENTER_ALTERNATE_SCREEN));
    d.type(key);
    EXPECT_EQ(d.exit_status(), RETURNED_OK) << testing::PrintToString(std::string(key));
    EXPECT_TRUE(ends_with(d.output, QUIT_TAIL)) << testing::PrintToString(d.output.substr(d.output.size() - 20));
    EXPECT_TRUE(same_settings(d.before, d.settings()));
  }
}

// A signal sent to end the dashboard hands the terminal back as q does, and still ends it by that signal.
TEST(RunTui, EndingSignalsHandTheTerminalBack) {
  for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGABRT}) {
    Dashboard d;
    ASSERT_TRUE(d.shows(FIRST_FRAME_MARK)) << sigabbrev_np(sig);
    ASSERT_EQ(::kill(d.pid, sig), 0);
    EXPECT_EQ(d.exit_status(), 128 + sig) << sigabbrev_np(sig);
    EXPECT_TRUE(ends_with(d.output, QUIT_TAIL))
        << sigabbrev_np(sig) << testing::PrintToString(d.output.substr(d.output.size() - 20));
    EXPECT_TRUE(same_settings(d.before, d.settings())) << sigabbrev_np(sig);
  }
}

// Whatever size the terminal reports, the dashboard draws at most MAX_SCREEN_SIDE a side and q ends it.
TEST(RunTui, AnyWindowSizeDrawsAndQuits) {
  const struct {
    std::uint16_t cols, rows;
    std::uint16_t drawn_rows;
  } cases[] = {
      {0, 0, 0}, {1, 1, 1}, {65535, 65535, term::MAX_SCREEN_SIDE}, {20000, 20000, term::MAX_SCREEN_SIDE},
      {65535, 30, 30},
  };
  for (const auto& c : cases) {
    const auto size = fmt::format("{}x{}", c.cols, c.rows);
    Dashboard d({}, c.cols, c.rows);
    ASSERT_TRUE(d.shows(term::HIDE_CURSOR)) << size;  // the first draw has begun
    if (c.drawn_rows > 0) {
      ASSERT_TRUE(d.shows(fmt::format("\x1b[{};1H", c.drawn_rows))) << size;
    }
    d.type("q");
    EXPECT_EQ(d.exit_status(), RETURNED_OK) << size;
    EXPECT_EQ(d.output.find(fmt::format("\x1b[{};", c.drawn_rows + 1)), std::string::npos) << size;
    EXPECT_TRUE(ends_with(d.output, QUIT_TAIL)) << size;
    EXPECT_TRUE(same_settings(d.before, d.settings())) << size;
  }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves address space and does not throw when it runs out
// Lets this process map at most `more` bytes beyond what it maps now.
void limit_address_space_growth(std::size_t more) {
  std::ifstream status("/proc/self/status");
  std::size_t kib = 0;
  for (std::string key; status >> key;)
    if (key == "VmSize:" && status >> kib) break;
  const rlimit limit{kib * 1024 + more, kib * 1024 + more};
  ::setrlimit(RLIMIT_AS, &limit);
}

// Running out of memory in the loop throws out of run_tui; the terminal is handed back on the way.
TEST(RunTui, AnExceptionOutOfTheLoopHandsTheTerminalBack) {
  // Room for a small screen, not for one at the limit.
  constexpr std::size_t room = std::size_t{term::MAX_SCREEN_SIDE} * term::MAX_SCREEN_SIDE * sizeof(term::Cell) / 2;
  Dashboard d([](base::Sender<SessionEvent>&) { limit_address_space_growth(room); });
  ASSERT_TRUE(d.shows(FIRST_FRAME_MARK));
  winsize huge{term::MAX_SCREEN_SIDE, term::MAX_SCREEN_SIDE, 0, 0};
  ASSERT_EQ(::ioctl(d.master, TIOCSWINSZ, &huge), 0);
  EXPECT_EQ(d.exit_status(), THREW);
  EXPECT_TRUE(ends_with(d.output, QUIT_TAIL)) << testing::PrintToString(d.output.substr(d.output.size() - 20));
  EXPECT_TRUE(same_settings(d.before, d.settings()));
}
#endif

TEST(RunTui, OtherKeysDoNotQuit) {
  Dashboard d;
  ASSERT_TRUE(d.shows(FIRST_FRAME_MARK));
  d.type("Q");
  d.type("\x03");  // Ctrl+C is an ordinary key in raw mode
  d.type("\x1b[A");
  EXPECT_TRUE(d.still_running());
  d.type("q");
  EXPECT_EQ(d.exit_status(), RETURNED_OK);
}

TEST(RunTui, AClosedChannelKeepsItRunning) {
  Dashboard d([](base::Sender<SessionEvent>& tx) {
    tx.send(SessionEvent{session_log::User{"hello"}, session_log::Uuid::new_v4(), session_log::Uuid::new_v4(),
                         session_log::now_utc(), std::nullopt, false});
    tx.send(session_log::make_heartbeat());
    auto closed = std::move(tx);
  });
  ASSERT_TRUE(d.shows(" Orvik   1 sessions   1 events ")) << d.output;  // the heartbeat counts for nothing
  EXPECT_TRUE(d.still_running());
  d.type("q");
  EXPECT_EQ(d.exit_status(), RETURNED_OK);
}

TEST(RunTui, RedrawsAtANewWindowSize) {
  Dashboard d({}, 80, 24);
  ASSERT_TRUE(d.shows(FIRST_FRAME_MARK));
  ASSERT_TRUE(d.shows("\x1b[24;1H"));  // the footer on the last row
  const auto before = d.output.size();
  winsize ws{30, 100, 0, 0};
  ASSERT_EQ(::ioctl(d.master, TIOCSWINSZ, &ws), 0);  // the kernel signals the child's foreground group
  ASSERT_TRUE(d.read_until([&](const std::string& out) {
    const auto clear = out.find(term::CLEAR_SCREEN, before);
    return clear != std::string::npos && out.find("\x1b[30;1H", clear) != std::string::npos;
  })) << testing::PrintToString(d.output.substr(before));
  d.type("q");
  EXPECT_EQ(d.exit_status(), RETURNED_OK);
}

TEST(RunTui, ARunningCallIsWipedWhenItsWindowEnds) {
  // The last frame that shows the call is followed by one without it, although nothing then moves any more.
  Dashboard d([](base::Sender<SessionEvent>& tx) {
    tx.send(SessionEvent{session_log::ToolUse{"toolu_1", "Slowpoke", nullptr}, session_log::Uuid::new_v4(),
                         session_log::Uuid::new_v4(), session_log::now_utc() - 30'300ms, std::nullopt, false});
  });
  ASSERT_TRUE(d.shows("Slowpoke")) << d.output;
  const std::string blank(20, ' ');
  ASSERT_TRUE(d.read_until([&](const std::string& out) {
    const auto last = out.rfind("s]");
    return out.find("[30.", 0) != std::string::npos && last != std::string::npos &&
           out.find(blank, last) != std::string::npos;
  }, 5s)) << testing::PrintToString(d.output.substr(d.output.size() - 200));
  const auto settled = d.output.size();
  d.read_until([](const std::string&) { return false; }, 1s);
  EXPECT_EQ(d.output.size(), settled);  // and then the idle screen sends nothing
  d.type("q");
  EXPECT_EQ(d.exit_status(), RETURNED_OK);
}

TEST(RunTui, ATerminalThatHangsUpEndsItWithAnError) {
  // Ignoring the hang-up signal leaves the loop to find out by itself.
  Dashboard d([](base::Sender<SessionEvent>&) { ::signal(SIGHUP, SIG_IGN); });
  ASSERT_TRUE(d.shows(FIRST_FRAME_MARK));
  ::close(d.master);
  d.master = -1;
  int raw = 0;
  ASSERT_EQ(::waitpid(d.pid, &raw, 0), d.pid);
  d.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  EXPECT_EQ(d.status, RETURNED_ERROR);
}

TEST(RunTui, WithoutATerminalFailsAtOnceAndWritesNothing) {
  int out[2], report[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();  // no controlling terminal, so no /dev/tty either
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    auto [tx, rx] = base::channel<SessionEvent>();
    const auto result = run_tui(std::move(rx));
    const std::string text = result ? "success" : result.error().message;
    (void)!::write(report[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(out[1]);
  ::close(report[1]);
  EXPECT_EQ(read_all(report[0]), "No such device or address (os error 6)");
  EXPECT_EQ(read_all(out[0]), "");
  ::waitpid(child, nullptr, 0);
}

// A set-up step that fails puts back what the steps before it turned on.
TEST(RunTui, AFailedSetUpRestoresTheTerminal) {
  const struct {
    const char* what;
    bool output_readable;  // a pipe, or /dev/null opened for reading only
    std::string_view error;
    std::string written;
  } cases[] = {
      {"entering the alternate screen fails", false, "Bad file descriptor (os error 9)", ""},
      {"reading the size fails", true, "Inappropriate ioctl for device (os error 25)",
       std::string(term::ENTER_ALTERNATE_SCREEN) + std::string(term::LEAVE_ALTERNATE_SCREEN)},
  };
  for (const auto& c : cases) {
    int master = -1, slave = -1, out[2], report[2];
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(120);
      ::setsid();  // the pty is standard input but not the controlling terminal, so there is no /dev/tty
      ::dup2(slave, STDIN_FILENO);
      ::dup2(c.output_readable ? out[1] : ::open("/dev/null", O_RDONLY), STDOUT_FILENO);
      ::close(out[1]);
      auto [tx, rx] = base::channel<SessionEvent>();
      const auto result = run_tui(std::move(rx));
      termios now{};
      ::tcgetattr(STDIN_FILENO, &now);
      const std::string text = (result ? std::string("success") : result.error().message) +
                               ((now.c_lflag & (ICANON | ECHO)) == 0 ? " raw" : " cooked");
      (void)!::write(report[1], text.data(), text.size());
      ::_exit(0);
    }
    ::close(out[1]);
    ::close(report[1]);
    ::close(slave);
    EXPECT_EQ(read_all(report[0]), std::string(c.error) + " cooked") << c.what;
    EXPECT_EQ(read_all(out[0]), c.written) << c.what;
    ::waitpid(child, nullptr, 0);
    ::close(master);
  }
}

}  // namespace
}  // namespace orvik::ui
