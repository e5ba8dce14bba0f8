#include "term/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "signal_restore.hpp"

namespace orvik::term {

Result<Tty> Tty::open() {
  if (::isatty(STDIN_FILENO)) return Tty(STDIN_FILENO, false);
  int fd;
  do fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return last_os_error();
  return Tty(fd, true);
}

Result<RawMode> RawMode::enable() {
  auto tty = Tty::open();
  if (!tty) return std::unexpected(std::move(tty.error()));
  return enable_with(std::move(*tty));
}

Result<RawMode> RawMode::enable_on(int fd) { return enable_with(Tty(fd, false)); }

Result<RawMode> RawMode::enable_with(Tty tty) {
  termios saved{};
  if (::tcgetattr(tty.fd, &saved) != 0) return last_os_error();
  termios raw = saved;
  ::cfmakeraw(&raw);
  // Known to the signals before the change, so that no moment is left in which raw mode would stay on.
  const bool known = signal_restore::hold_settings(tty.fd, saved);
  if (::tcsetattr(tty.fd, TCSANOW, &raw) != 0) {
    const int err = errno;
    if (known) signal_restore::drop_settings();
    return std::unexpected(os_error(err));
  }
  return RawMode(std::move(tty), saved, known);
}

RawMode::RawMode(RawMode&& other) noexcept
    : tty_(std::move(other.tty_)), saved_(other.saved_), active_(other.active_),
      known_to_signals_(other.known_to_signals_) {
  other.active_ = false;
  other.known_to_signals_ = false;
}

RawMode::~RawMode() {
  (void)disable();
  // Even when putting them back failed: the descriptor may be closed now and its number reused.
  if (known_to_signals_) signal_restore::drop_settings();
}

Result<void> RawMode::disable() {
  if (!active_) return {};
  if (::tcsetattr(tty_.fd, TCSANOW, &saved_) != 0) return last_os_error();
  active_ = false;
  if (known_to_signals_) signal_restore::drop_settings();
  known_to_signals_ = false;
  return {};
}

Result<AlternateScreen> AlternateScreen::enter(int fd) {
  signal_restore::screen_entered(fd);
  if (auto r = base::write_all(fd, ENTER_ALTERNATE_SCREEN); !r) {
    signal_restore::screen_not_entered(fd);
    return std::unexpected(std::move(r.error()));
  }
  return AlternateScreen(fd);
}

AlternateScreen::AlternateScreen(AlternateScreen&& other) noexcept : fd_(other.fd_), active_(other.active_) {
  other.active_ = false;
}

AlternateScreen::~AlternateScreen() {
  (void)leave();
  if (active_) signal_restore::screen_left(fd_);  // nothing owns the screen any more
}

Result<void> AlternateScreen::leave() {
  if (!active_) return {};
  if (auto r = base::write_all(fd_, LEAVE_ALTERNATE_SCREEN); !r) return r;
  active_ = false;
  signal_restore::screen_left(fd_);
  return {};
}

Result<Rect> window_size(int fd) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) != 0) return last_os_error();
  return Rect{0, 0, ws.ws_col, ws.ws_row};
}

Rect clamp_screen_size(Rect size) {
  size.width = std::min(size.width, MAX_SCREEN_SIDE);
  size.height = std::min(size.height, MAX_SCREEN_SIDE);
  return size;
}

namespace {

int fg_code(Color c) {
  switch (c) {
    case Color::Reset: return 39;
    case Color::Black: return 30;
    case Color::Red: return 31;
    case Color::Green: return 32;
    case Color::Yellow: return 33;
    case Color::Blue: return 34;
    case Color::Magenta: return 35;
    case Color::Cyan: return 36;
    case Color::Gray: return 37;
    case Color::DarkGray: return 90;
    case Color::White: return 97;
  }
  return 39;
}

// What the diff knows of the real screen while it writes.
struct Pen {
  std::string& out;
  Color fg = Color::Reset;
  bool bold = false;
  bool cursor_known = false;
  std::uint16_t cx = 0, cy = 0;

  void move_to(std::uint16_t x, std::uint16_t y) {
    if (cursor_known && cy == y && cx == x) return;
    if (cursor_known && cy == y && cx < x) {
      const int n = x - cx;
      if (n == 1)
        out += "\x1b[C";
      else
        fmt::format_to(std::back_inserter(out), "\x1b[{}C", n);
    } else {
      fmt::format_to(std::back_inserter(out), "\x1b[{};{}H", y + 1, x + 1);
    }
    cursor_known = true;
    cx = x;
    cy = y;
  }

  void set_look(Color want_fg, bool want_bold) {
    if (want_fg == fg && want_bold == bold) return;
    if (want_fg == Color::Reset && !want_bold) {
      out += RESET_LOOK;
    } else {
      out += "\x1b[";
      if (want_bold != bold) out += want_bold ? "1" : "22";
      if (want_bold != bold && want_fg != fg) out += ';';
      if (want_fg != fg) fmt::format_to(std::back_inserter(out), "{}", fg_code(want_fg));
      out += 'm';
    }
    fg = want_fg;
    bold = want_bold;
  }

  void put(std::uint16_t x, std::uint16_t y, const Symbol& symbol, std::uint16_t row_end) {
    move_to(x, y);
    out += symbol.view();
    // Past anything but ASCII a terminal may count other widths than ours: place the next cell absolutely, so
    // that a disagreement stays inside this one. At the right edge the terminal holds the cursor in its
    // pending-wrap state; do not guess there either.
    if (!symbol.is_ascii() || x + symbol.width() >= row_end)
      cursor_known = false;
    else
      cx = static_cast<std::uint16_t>(x + symbol.width());
  }
};

// The first code point of a cluster, as wide as the cluster and with no reach.
Symbol first_code_point(const Symbol& symbol) {
  const auto text = symbol.view();
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t n = lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
  return Symbol::cluster(text.substr(0, std::min(n, text.size())), symbol.width(), 0);
}

}  // namespace

void append_diff(const Buffer& previous, const Buffer& next, std::string& out) {
  static const Symbol blank{};
  const Rect area = next.area;
  const auto row_end = static_cast<std::uint16_t>(area.x + area.width);
  Pen pen{out};
  if (area.empty()) return;
  for (std::uint16_t row = 0; row < area.height; ++row) {
    const Cell* const now_row = next.cells.data() + std::size_t{row} * area.width;
    const Cell* const before_row = previous.cells.data() + std::size_t{row} * area.width;
    if (std::memcmp(now_row, before_row, sizeof(Cell) * area.width) == 0) continue;  // nothing to do here
    std::uint16_t to_skip = 0;      // columns still covered by a wide character just written or kept
    std::uint16_t invalidated = 0;  // columns whose screen content a width change may have disturbed
    for (std::uint16_t col = 0; col < area.width; ++col) {
      if (to_skip == 0 && invalidated == 0) {
        // The common case: a run of unchanged cells no wider than one column, which leave nothing to do.
        while (col < area.width && now_row[col] == before_row[col] && now_row[col].symbol.width() <= 1) ++col;
        if (col == area.width) break;
      }
      const Cell& now = now_row[col];
      const Cell& before = before_row[col];
      const std::uint16_t width = now.symbol.width();
      const bool changed = !(now == before);
      std::uint16_t affected = changed ? std::max(width, before.symbol.width()) : width;
      if (to_skip == 0 && (changed || invalidated > 0)) {
        const auto x = static_cast<std::uint16_t>(area.x + col);
        const auto y = static_cast<std::uint16_t>(area.y + row);
        pen.move_to(x, y);
        pen.set_look(now.fg, now.bold);
        if (width == 0 || (width == 2 && col + 1 == area.width)) {
          // An empty symbol that no wide character covers shows as blank; so does a wide character in the
          // last column, which would wrap onto the next row.
          pen.put(x, y, blank, row_end);
        } else if (col + width + now.symbol.reach() > area.width) {
          // Drawn part by part, the cluster would wrap onto the next row: its first code point stands in.
          pen.put(x, y, first_code_point(now.symbol), row_end);
        } else {
          pen.put(x, y, now.symbol, row_end);
          // A terminal that draws the cluster's code points one by one covers the cells after it: draw them
          // again over that.
          affected = std::max<std::uint16_t>(affected, static_cast<std::uint16_t>(width + now.symbol.reach()));
        }
      }
      to_skip = width > 1 ? static_cast<std::uint16_t>(width - 1) : 0;
      invalidated = std::max(affected, invalidated);
      invalidated = invalidated > 0 ? static_cast<std::uint16_t>(invalidated - 1) : 0;
    }
  }
  pen.set_look(Color::Reset, false);
}

struct Terminal::State {
  int fd = -1;
  int size_fd = -1;  // where the size is read: `fd`, or the terminal when `fd` is none
  Tty size_tty;
  std::optional<Rect> fixed;
  Rect area;
  bool area_known = false;  // false until the first draw, and after a failed write
  bool cursor_hidden = false;
  Buffer previous;
  Buffer current;
  std::string out;
};

Terminal::Terminal(std::unique_ptr<State> state) : state_(std::move(state)) {}
Terminal::Terminal(Terminal&&) noexcept = default;
Terminal& Terminal::operator=(Terminal&& other) noexcept {
  if (this != &other) {
    if (state_ && state_->cursor_hidden) (void)show_cursor();
    state_ = std::move(other.state_);
  }
  return *this;
}

Terminal::~Terminal() {
  if (state_ && state_->cursor_hidden) (void)show_cursor();
}

Result<Terminal> Terminal::create(int fd) {
  auto state = std::make_unique<State>();
  state->fd = fd;
  state->size_fd = fd;
  if (!::isatty(fd)) {
    // Output into a pipe (through tee, say) still has a screen size: the controlling terminal's.
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty >= 0) {
      state->size_fd = tty;
      state->size_tty = Tty(tty, true);
    }
  }
  auto size = window_size(state->size_fd);
  if (!size) return std::unexpected(std::move(size.error()));
  state->area = clamp_screen_size(*size);
  return Terminal(std::move(state));
}

Terminal Terminal::create_fixed(int fd, Rect area) {
  auto state = std::make_unique<State>();
  state->fd = fd;
  state->fixed = area;
  state->area = area;
  return Terminal(std::move(state));
}

Result<Frame> Terminal::begin_frame() {
  State& s = *state_;
  Rect area = s.area;
  if (s.fixed) {
    area = *s.fixed;
  } else {
    auto size = window_size(s.size_fd);
    if (!size) return std::unexpected(std::move(size.error()));
    area = clamp_screen_size(*size);
  }
  s.out.clear();
  if (!s.cursor_hidden) s.out += HIDE_CURSOR;
  if (!s.area_known || area != s.area) {
    // A new size: the screen's content (and its current look) is unknown, so start from the default look on a
    // cleared screen and repaint against a blank one.
    s.area = area;
    s.area_known = true;
    s.previous = Buffer::empty(area);
    s.current = Buffer::empty(area);
    s.out += RESET_LOOK;
    s.out += CLEAR_SCREEN;
  }
  return Frame{s.current};  // blank: new, or reset at the end of the last frame
}

Result<void> Terminal::end_frame() {
  State& s = *state_;
  append_diff(s.previous, s.current, s.out);
  // The old frame is cleared for the next one now, while the diff has just read it, rather than from a cold
  // cache then. (A failed write below starts the next frame afresh anyway.)
  s.previous.reset();
  // Counted as hidden even if the write fails part-way, so that the cursor is shown again on release.
  s.cursor_hidden = true;
  if (!s.out.empty()) {
    if (auto r = base::write_all(s.fd, s.out); !r) {
      s.area_known = false;
      return r;
    }
  }
  std::swap(s.previous, s.current);
  return {};
}

Result<void> Terminal::write_all(std::string_view bytes) { return base::write_all(state_->fd, bytes); }

Result<void> Terminal::show_cursor() {
  if (auto r = base::write_all(state_->fd, SHOW_CURSOR); !r) return r;
  state_->cursor_hidden = false;
  signal_restore::cursor_shown(state_->fd);
  return {};
}

bool Terminal::cursor_hidden() const { return state_->cursor_hidden; }
Rect Terminal::area() const { return state_->area; }

}  // namespace orvik::term
