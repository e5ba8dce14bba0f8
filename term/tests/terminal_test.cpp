#include "term/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include <fmt/format.h>

namespace orvik::term {
namespace {

Buffer with_text(std::uint16_t width, std::uint16_t height, std::initializer_list<std::pair<Rect, std::string>> texts,
                 Style style = {}) {
  auto buf = Buffer::empty(Rect{0, 0, width, height});
  for (const auto& [at, text] : texts) buf.set_stringn(at.x, at.y, text, 100, style);
  return buf;
}

std::string diff(const Buffer& a, const Buffer& b) {
  std::string out;
  append_diff(a, b, out);
  return out;
}

TEST(Diff, WritesOnlyChangedCellsWithFewMoves) {
  const auto blank = Buffer::empty(Rect{0, 0, 8, 3});
  const struct {
    const char* what;
    Buffer next;
    std::string expected;
  } cases[] = {
      {"nothing changed", Buffer::empty(Rect{0, 0, 8, 3}), ""},
      {"one cell", with_text(8, 3, {{{3, 1}, "x"}}), "\x1b[2;4Hx"},
      {"a run needs one move", with_text(8, 3, {{{0, 0}, "abc"}}), "\x1b[1;1Habc"},
      {"a gap on the row moves forward", with_text(8, 3, {{{0, 0}, "a"}, {{4, 0}, "b"}}), "\x1b[1;1Ha\x1b[3Cb"},
      {"a gap of one", with_text(8, 3, {{{0, 0}, "a"}, {{2, 0}, "b"}}), "\x1b[1;1Ha\x1b[Cb"},
      {"next row", with_text(8, 3, {{{7, 0}, "a"}, {{0, 1}, "b"}}), "\x1b[1;8Ha\x1b[2;1Hb"},
      {"the hidden half of a wide character", with_text(8, 3, {{{0, 2}, "中x"}}), "\x1b[3;1H中\x1b[3;3Hx"},
      {"anything but ASCII is followed by an absolute move", with_text(8, 3, {{{0, 0}, "é─x"}}),
       "\x1b[1;1Hé\x1b[1;2H─\x1b[1;3Hx"},
  };
  for (const auto& c : cases) EXPECT_EQ(diff(blank, c.next), c.expected) << c.what;
}

TEST(Diff, ChangesColourAndBoldOnlyWhereTheyChange) {
  const auto blank = Buffer::empty(Rect{0, 0, 6, 1});
  auto next = Buffer::empty(Rect{0, 0, 6, 1});
  next.set_stringn(0, 0, "ab", 6, Style::with_fg(Color::Red, true));
  next.set_stringn(2, 0, "c", 6, Style::with_fg(Color::Red));
  next.set_stringn(3, 0, "d", 6, Style::with_fg(Color::DarkGray));
  next.set_stringn(4, 0, "e", 6, Style{});
  EXPECT_EQ(diff(blank, next), "\x1b[1;1H\x1b[1;31mab\x1b[22mc\x1b[90md\x1b[0me");
}

TEST(Diff, NamedColours) {
  const struct {
    Color color;
    std::string_view code;
  } cases[] = {{Color::Black, "30"},   {Color::Red, "31"},     {Color::Green, "32"}, {Color::Yellow, "33"},
               {Color::Blue, "34"},    {Color::Magenta, "35"}, {Color::Cyan, "36"},  {Color::Gray, "37"},
               {Color::DarkGray, "90"}, {Color::White, "97"}};
  const auto blank = Buffer::empty(Rect{0, 0, 1, 1});
  for (const auto& c : cases) {
    auto next = Buffer::empty(Rect{0, 0, 1, 1});
    next.set_stringn(0, 0, "x", 1, Style::with_fg(c.color));
    EXPECT_EQ(diff(blank, next), fmt::format("\x1b[1;1H\x1b[{}mx\x1b[0m", c.code)) << c.code;
  }
}

TEST(Diff, WidthChangesRepaintWhatTheyDisturb) {
  const auto wide = with_text(4, 1, {{{0, 0}, "中"}});
  // Narrow characters over both halves of a wide one.
  EXPECT_EQ(diff(wide, with_text(4, 1, {{{0, 0}, "ab"}})), "\x1b[1;1Hab");
  // A narrow character over the first half only: the second half is blanked, not left to chance.
  EXPECT_EQ(diff(wide, with_text(4, 1, {{{0, 0}, "a"}})), "\x1b[1;1Ha ");
  // ...even where the cell of the second half is the same in both frames, so only the width change calls
  // for it.
  auto half = wide;
  half.at(0, 0).symbol = "a";
  ASSERT_EQ(half.at(1, 0), wide.at(1, 0));
  EXPECT_EQ(diff(wide, half), "\x1b[1;1Ha ");
  // An empty symbol that no wide character covers is drawn as a blank.
  auto orphan = Buffer::empty(Rect{0, 0, 4, 1});
  orphan.at(2, 0).symbol.clear();
  EXPECT_EQ(diff(with_text(4, 1, {{{0, 0}, "abcd"}}), orphan), "\x1b[1;1H    ");
  // A wide character in the last column would wrap: a blank stands in for it.
  auto edge = Buffer::empty(Rect{0, 0, 4, 1});
  edge.at(3, 0).symbol = "中";
  EXPECT_EQ(diff(Buffer::empty(Rect{0, 0, 4, 1}), edge), "\x1b[1;4H ");
}

// A terminal that counts the code points of a joined emoji one by one draws it wider than its cell and covers
// the cells after it; they are drawn again, whether they changed or not.
TEST(Diff, CellsAJoinedEmojiMayCoverAreDrawnAgain) {
  const struct {
    const char* what;
    std::string text;
    std::string expected;
  } cases[] = {
      {"skin tone", "👍🏽ab│", "\x1b[1;1H👍🏽\x1b[1;3Hab"},
      {"flag", "🇯🇵ab│", "\x1b[1;1H🇯🇵\x1b[1;3Hab"},
      {"joined", "👩‍💻ab│", "\x1b[1;1H👩‍💻\x1b[1;3Hab"},
      {"one code point covers nothing", "中ab│", "\x1b[1;1H中"},
      {"the presentation selector makes it narrower, never wider", "⚠️ab│", "\x1b[1;1H⚠️"},
  };
  for (const auto& c : cases) {
    auto before = with_text(6, 1, {{{2, 0}, "ab│"}});
    EXPECT_EQ(diff(before, with_text(6, 1, {{{0, 0}, c.text}})), c.expected) << c.what;
  }
  // Near the right edge it would wrap onto the next row: its first code point stands in.
  EXPECT_EQ(diff(Buffer::empty(Rect{0, 0, 4, 1}), with_text(4, 1, {{{1, 0}, "👍🏽"}})), "\x1b[1;2H👍");
  EXPECT_EQ(diff(Buffer::empty(Rect{0, 0, 5, 1}), with_text(5, 1, {{{1, 0}, "👍🏽"}})), "\x1b[1;2H👍🏽\x1b[1;4H  ");
  // The reach of one cluster runs on over the next: the border after them and the cell after it are drawn again.
  auto before = with_text(6, 1, {{{0, 0}, "xxyy│"}});
  EXPECT_EQ(diff(before, with_text(6, 1, {{{0, 0}, "👍🏽👍🏽│"}})), "\x1b[1;1H👍🏽\x1b[1;3H👍🏽\x1b[1;5H│\x1b[1;6H ");
}

// Everything written to a memory file, read back.
struct Capture {
  int fd = ::memfd_create("terminal_test", MFD_CLOEXEC);
  off_t read_from = 0;
  ~Capture() { ::close(fd); }
  std::string take() {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    std::string out(static_cast<std::size_t>(end - read_from), '\0');
    EXPECT_EQ(::pread(fd, out.data(), out.size(), read_from), static_cast<ssize_t>(out.size()));
    read_from = end;
    return out;
  }
};

TEST(Terminal, DrawsByDifferenceAndHidesTheCursorOnce) {
  Capture cap;
  {
    auto t = Terminal::create_fixed(cap.fd, Rect{0, 0, 5, 2});
    auto text = [](const char* s) { return [s](Frame& f) { f.buffer.set_stringn(0, 1, s, 5, {}); }; };
    ASSERT_TRUE(t.draw(text("ab")));
    EXPECT_EQ(cap.take(), "\x1b[?25l\x1b[0m\x1b[2J\x1b[2;1Hab");
    EXPECT_TRUE(t.cursor_hidden());
    ASSERT_TRUE(t.draw(text("ab")));
    EXPECT_EQ(cap.take(), "");
    ASSERT_TRUE(t.draw(text("ac")));
    EXPECT_EQ(cap.take(), "\x1b[2;2Hc");
    ASSERT_TRUE(t.show_cursor());
    EXPECT_EQ(cap.take(), "\x1b[?25h");
    EXPECT_FALSE(t.cursor_hidden());
  }
  EXPECT_EQ(cap.take(), "");  // shown already, so not again on release
  {
    auto t = Terminal::create_fixed(cap.fd, Rect{0, 0, 5, 2});
    ASSERT_TRUE(t.draw([](Frame&) {}));
    cap.take();
  }
  EXPECT_EQ(cap.take(), "\x1b[?25h");  // released while hidden
}

TEST(Terminal, FailuresCarryTheSystemsText) {
  const int ro = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  auto t = Terminal::create_fixed(ro, Rect{0, 0, 2, 1});
  auto drawn = t.draw([](Frame&) {});
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.error().message, "Bad file descriptor (os error 9)");
  t = Terminal::create_fixed(-1, Rect{});  // releasing the old one tries to show the cursor and ignores the failure
  ::close(ro);
  EXPECT_EQ(window_size(ro).error().message, "Bad file descriptor (os error 9)");
}

struct Pty {
  int master = -1, slave = -1;
  Pty(std::uint16_t cols, std::uint16_t rows) {
    winsize ws{rows, cols, 0, 0};
    EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  // What the master side has received, once it has been quiet for a while (the pty hands bytes over
  // asynchronously).
  std::string drain() {
    std::string out;
    char buf[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 300) <= 0) break;
      const auto n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
};

TEST(Terminal, ANewSizeClearsAndRepaintsEverything) {
  Pty pty(10, 4);
  struct termios raw {};
  ::tcgetattr(pty.slave, &raw);
  ::cfmakeraw(&raw);  // so the pty passes the bytes through unchanged
  ::tcsetattr(pty.slave, TCSANOW, &raw);
  auto t = Terminal::create(pty.slave);
  ASSERT_TRUE(t) << t.error().message;
  EXPECT_EQ(t->area(), (Rect{0, 0, 10, 4}));
  auto draw = [](Frame& f) { f.buffer.set_stringn(0, f.area().height - 1, "end", 3, {}); };
  ASSERT_TRUE(t->draw(draw));
  EXPECT_EQ(pty.drain(), "\x1b[?25l\x1b[0m\x1b[2J\x1b[4;1Hend");
  ASSERT_TRUE(t->draw(draw));
  EXPECT_EQ(pty.drain(), "");
  winsize ws{6, 12, 0, 0};
  ASSERT_EQ(::ioctl(pty.master, TIOCSWINSZ, &ws), 0);
  ASSERT_TRUE(t->draw(draw));
  EXPECT_EQ(pty.drain(), "\x1b[0m\x1b[2J\x1b[6;1Hend");
  EXPECT_EQ(t->area(), (Rect{0, 0, 12, 6}));
}

bool same_settings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

TEST(RawMode, PutsBackExactlyTheSettingsFound) {
  Pty pty(80, 24);
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.slave, &before), 0);
  before.c_cc[VINTR] = 0x07;  // something no default would restore
  before.c_lflag &= ~static_cast<tcflag_t>(ECHOCTL);
  ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &before), 0);
  ASSERT_EQ(::tcgetattr(pty.slave, &before), 0);

  auto raw = RawMode::enable_on(pty.slave);
  ASSERT_TRUE(raw) << raw.error().message;
  termios during{};
  ::tcgetattr(pty.slave, &during);
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(during.c_iflag & (IXON | ICRNL), 0u);

  ASSERT_TRUE(raw->disable());
  termios after{};
  ::tcgetattr(pty.slave, &after);
  EXPECT_TRUE(same_settings(before, after));
  EXPECT_TRUE(raw->disable());  // once off, nothing more happens
}

TEST(RawMode, FailsWithTheSystemsErrorWithoutATerminal) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();  // no controlling terminal
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    auto raw = RawMode::enable();
    const std::string text = raw ? "enabled" : raw.error().message;
    (void)!::write(report[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(report[1]);
  std::string text(256, '\0');
  const auto n = ::read(report[0], text.data(), text.size());
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(text, "No such device or address (os error 6)");
}

TEST(ScreenSize, IsCutToWhatAScreenCanShow) {
  constexpr std::uint16_t M = MAX_SCREEN_SIDE;
  const struct {
    Rect reported, drawn;
  } cases[] = {
      {{0, 0, 0, 0}, {0, 0, 0, 0}},
      {{0, 0, 1, 1}, {0, 0, 1, 1}},
      {{0, 0, 80, 24}, {0, 0, 80, 24}},
      {{0, 0, M, M}, {0, 0, M, M}},
      {{0, 0, M + 1, 24}, {0, 0, M, 24}},
      {{0, 0, 80, 20000}, {0, 0, 80, M}},
      {{0, 0, 65535, 65535}, {0, 0, M, M}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(clamp_screen_size(c.reported), c.drawn) << c.reported.width << "x" << c.reported.height;
}

TEST(Terminal, DrawsAHugeWindowAtTheLimitInItsCorner) {
  Pty pty(65535, 65535);
  struct termios raw {};
  ::tcgetattr(pty.slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(pty.slave, TCSANOW, &raw);
  auto t = Terminal::create(pty.slave);
  ASSERT_TRUE(t) << t.error().message;
  EXPECT_EQ(t->area(), (Rect{0, 0, MAX_SCREEN_SIDE, MAX_SCREEN_SIDE}));
  auto corner = [](Frame& f) { f.buffer.set_stringn(f.area().width - 1, f.area().height - 1, "x", 1, {}); };
  ASSERT_TRUE(t->draw(corner));
  EXPECT_EQ(pty.drain(), fmt::format("\x1b[?25l\x1b[0m\x1b[2J\x1b[{0};{0}Hx", MAX_SCREEN_SIDE));
  winsize ws{30000, 100, 0, 0};  // one side within the limit, one beyond
  ASSERT_EQ(::ioctl(pty.master, TIOCSWINSZ, &ws), 0);
  ASSERT_TRUE(t->draw(corner));
  EXPECT_EQ(pty.drain(), fmt::format("\x1b[0m\x1b[2J\x1b[{};100Hx", MAX_SCREEN_SIDE));
}

TEST(AlternateScreen, IsLeftOnceByLeaveOrOnRelease) {
  Capture cap;
  {
    auto screen = AlternateScreen::enter(cap.fd);
    ASSERT_TRUE(screen);
    EXPECT_EQ(cap.take(), ENTER_ALTERNATE_SCREEN);
    ASSERT_TRUE(screen->leave());
    EXPECT_EQ(cap.take(), LEAVE_ALTERNATE_SCREEN);
    ASSERT_TRUE(screen->leave());
  }
  EXPECT_EQ(cap.take(), "");
  {
    auto screen = AlternateScreen::enter(cap.fd);
    ASSERT_TRUE(screen);
    auto moved = std::move(*screen);
  }
  EXPECT_EQ(cap.take(), std::string(ENTER_ALTERNATE_SCREEN) + std::string(LEAVE_ALTERNATE_SCREEN));
  const int ro = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(AlternateScreen::enter(ro).error().message, "Bad file descriptor (os error 9)");
  ::close(ro);
}

TEST(RawMode, ReleasePutsBackTheSettingsFound) {
  Pty pty(80, 24);
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.slave, &before), 0);
  {
    auto raw = RawMode::enable_on(pty.slave);
    ASSERT_TRUE(raw) << raw.error().message;
    auto moved = std::move(*raw);  // the one left behind puts back nothing
  }
  termios after{};
  ::tcgetattr(pty.slave, &after);
  EXPECT_TRUE(same_settings(before, after));
}

bool handled_by_default(int sig) {
  struct sigaction now {};
  ::sigaction(sig, nullptr, &now);
  return !(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_DFL;
}

TEST(RestoreOnSignals, TakesOnlySignalsLeftToTheDefaultAndPutsThemBack) {
  const auto hup_before = ::signal(SIGHUP, SIG_IGN);
  {
    RestoreOnSignals on_signals;
    EXPECT_FALSE(handled_by_default(SIGTERM));
    EXPECT_EQ(::signal(SIGHUP, SIG_IGN), SIG_IGN);  // ignored stays ignored
  }
  EXPECT_TRUE(handled_by_default(SIGTERM));
  ::signal(SIGHUP, hup_before);
}

// A child on a pty in raw mode on the alternate screen with the cursor hidden ends by a signal: the terminal is
// handed back in the tear-down's order and the child's status is the signal's.
TEST(RestoreOnSignals, HandsTheTerminalBackAndEndsByTheSignal) {
  for (int sig : {SIGTERM, SIGHUP, SIGABRT, SIGSEGV, SIGFPE, SIGBUS, SIGILL}) {
    if (!handled_by_default(sig)) continue;  // a sanitizer's own
    Pty pty(10, 4);
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.slave, &before), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(60);
      const rlimit no_core{0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);
      RestoreOnSignals on_signals;
      auto raw = RawMode::enable_on(pty.slave);
      auto screen = AlternateScreen::enter(pty.slave);
      auto t = Terminal::create(pty.slave);
      if (!raw || !screen || !t || !t->draw([](Frame&) {})) ::_exit(1);
      ::raise(sig);
      ::_exit(2);
    }
    int raw_status = 0;
    ASSERT_EQ(::waitpid(child, &raw_status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(raw_status)) << sigabbrev_np(sig) << " " << raw_status;
    EXPECT_EQ(WTERMSIG(raw_status), sig);
    EXPECT_EQ(pty.drain(), "\x1b[?1049h\x1b[?25l\x1b[0m\x1b[2J\x1b[?1049l\x1b[?25h") << sigabbrev_np(sig);
    termios after{};
    ::tcgetattr(pty.slave, &after);
    EXPECT_TRUE(same_settings(before, after)) << sigabbrev_np(sig);
  }
}

}  // namespace
}  // namespace orvik::term
