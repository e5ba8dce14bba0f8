#pragma once

#include <signal.h>
#include <termios.h>

#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "term/buffer.hpp"
#include "base/error.hpp"
#include "base/fd.hpp"
#include "term/frame.hpp"

namespace orvik::term {

inline constexpr std::string_view ENTER_ALTERNATE_SCREEN = "\x1b[?1049h";
inline constexpr std::string_view LEAVE_ALTERNATE_SCREEN = "\x1b[?1049l";
inline constexpr std::string_view SHOW_CURSOR = "\x1b[?25h";
inline constexpr std::string_view HIDE_CURSOR = "\x1b[?25l";
inline constexpr std::string_view CLEAR_SCREEN = "\x1b[2J";
inline constexpr std::string_view RESET_LOOK = "\x1b[0m";

// The terminal to talk to: standard input when it is a terminal, else a newly opened /dev/tty.
// Fails with the system's error when there is none.
struct Tty {
  int fd = -1;
  base::Fd owner;  // holds `fd` when this opened it, so that it is closed on destruction; else empty

  static Result<Tty> open();
  Tty() = default;
  Tty(int f, bool owned) : fd(f), owner(owned ? f : -1) {}
  Tty(Tty&& other) noexcept : fd(std::exchange(other.fd, -1)), owner(std::move(other.owner)) {}
  Tty& operator=(Tty&& other) noexcept {
    if (this != &other) {
      owner = std::move(other.owner);
      fd = std::exchange(other.fd, -1);
    }
    return *this;
  }
};

// Raw mode on a terminal, remembering the settings it found so they can be put back exactly: by disable(), on
// release, and by the signals that RestoreOnSignals catches. One at a time is known to those signals.
class RawMode {
 public:
  // Raw mode on the terminal that Tty::open finds.
  static Result<RawMode> enable();
  // Raw mode on `fd`, which stays the caller's.
  static Result<RawMode> enable_on(int fd);

  RawMode(RawMode&& other) noexcept;
  RawMode& operator=(RawMode&&) = delete;
  ~RawMode();  // puts back the settings found if still on, ignoring errors

  // Puts back the settings found. Later calls do nothing.
  Result<void> disable();
  int fd() const { return tty_.fd; }

 private:
  RawMode(Tty tty, const termios& saved, bool known_to_signals)
      : tty_(std::move(tty)), saved_(saved), known_to_signals_(known_to_signals) {}
  static Result<RawMode> enable_with(Tty tty);
  Tty tty_;
  termios saved_{};
  bool active_ = true;
  bool known_to_signals_ = false;
};

// The alternate screen on `fd` (which stays the caller's), left by leave() or on release, ignoring errors. The
// signals that RestoreOnSignals catches leave it too and show the cursor, as the tear-down after it does.
class AlternateScreen {
 public:
  static Result<AlternateScreen> enter(int fd);

  AlternateScreen(AlternateScreen&& other) noexcept;
  AlternateScreen& operator=(AlternateScreen&&) = delete;
  ~AlternateScreen();

  // Back to the main screen. Later calls do nothing.
  Result<void> leave();

 private:
  explicit AlternateScreen(int fd) : fd_(fd) {}
  int fd_ = -1;
  bool active_ = true;
};

// While alive, the signals that end a process without a word (SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGABRT and the
// crashes) first hand the terminal back as the live RawMode and AlternateScreen (and a Terminal's cursor) would
// on release, and then end the process by the same signal, so that its status is what it would have been.
// Signals whose handling is not the default (ignored, or a sanitizer's) are left alone.
class RestoreOnSignals {
 public:
  RestoreOnSignals();
  RestoreOnSignals(const RestoreOnSignals&) = delete;
  RestoreOnSignals& operator=(const RestoreOnSignals&) = delete;
  ~RestoreOnSignals();  // puts the previous handling back

  static constexpr int SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

 private:
  struct sigaction previous_[std::size(SIGNALS)]{};
  bool installed_[std::size(SIGNALS)]{};
};

// The signals sent to end a process. Threads other than the one that draws block them, so that their handler
// runs on that thread and nothing is written to the terminal after the handler has handed it back.
sigset_t kill_signals();

// The window size of the terminal on `fd` (TIOCGWINSZ), as a rectangle at the origin.
Result<Rect> window_size(int fd);

// The most cells a full-screen Terminal draws on a side. Real screens stay below it (an 8K display at a
// 4-pixel-wide font has under 2000 columns), while a frame costs memory and time in proportion to its cells:
// here the first frame at this size takes about a fifth of a second, and one at 20000 a side would stall for
// minutes. Larger sizes are drawn as if the terminal were this large, in its top-left corner.
inline constexpr std::uint16_t MAX_SCREEN_SIDE = 2048;

// `size` with each side cut to MAX_SCREEN_SIDE.
Rect clamp_screen_size(Rect size);

// The bytes that turn a screen showing `previous` into one showing `next` (same area): only changed cells,
// a cursor move only where the next cell is not where the cursor stands, colour and bold only where they
// change, and the default look again at the end. Appends to `out`.
void append_diff(const Buffer& previous, const Buffer& next, std::string& out);

// A full-screen or fixed-size terminal drawn by difference: it keeps the last frame it drew and writes only
// what changed, in one write per frame. The descriptor stays the caller's.
class Terminal {
 public:
  // Full screen: reads the size of the terminal on `fd` (or, when `fd` is no terminal, of the controlling
  // terminal if there is one) now and before every draw, cut to MAX_SCREEN_SIDE.
  static Result<Terminal> create(int fd);
  // A fixed area; the size is never read, so `fd` may be any file.
  static Terminal create_fixed(int fd, Rect area);

  Terminal(Terminal&&) noexcept;
  Terminal& operator=(Terminal&&) noexcept;
  ~Terminal();  // shows the cursor again if this terminal hid it, ignoring errors

  // Adapts to the current size (a new size clears and repaints everything), lets `render` fill a fresh
  // frame, then writes the difference from the previous frame. Hides the cursor at the first draw.
  template <class Render>
  Result<void> draw(Render&& render) {
    auto frame = begin_frame();
    if (!frame) return std::unexpected(std::move(frame.error()));
    render(*frame);
    return end_frame();
  }

  Result<void> write_all(std::string_view bytes);
  Result<void> show_cursor();
  bool cursor_hidden() const;
  Rect area() const;

 private:
  struct State;
  explicit Terminal(std::unique_ptr<State> state);
  Result<Frame> begin_frame();
  Result<void> end_frame();

  std::unique_ptr<State> state_;
};

}  // namespace orvik::term
