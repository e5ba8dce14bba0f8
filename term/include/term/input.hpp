#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "base/error.hpp"

namespace orvik::term {

struct Tty;

struct KeyCode {
  enum class Kind : std::uint8_t {
    Char, Esc, Enter, Backspace, Tab, BackTab, Left, Right, Up, Down,
    Home, End, PageUp, PageDown, Insert, Delete, F,
  };
  Kind kind = Kind::Char;
  char32_t ch = 0;       // for Char
  std::uint8_t f = 0;    // for F: 1..12

  static KeyCode character(char32_t c) { return {Kind::Char, c, 0}; }
  static KeyCode of(Kind k) { return {k, 0, 0}; }
  static KeyCode function(std::uint8_t n) { return {Kind::F, 0, n}; }
  bool is_char(char32_t c) const { return kind == Kind::Char && ch == c; }

  friend bool operator==(const KeyCode&, const KeyCode&) = default;
};

enum KeyModifiers : std::uint8_t { NO_MODIFIERS = 0, SHIFT = 1, CONTROL = 2, ALT = 4, SUPER = 8, HYPER = 16, META = 32 };

enum class KeyEventKind : std::uint8_t { Press, Repeat, Release };

struct KeyEvent {
  KeyCode code;
  std::uint8_t modifiers = NO_MODIFIERS;
  KeyEventKind kind = KeyEventKind::Press;

  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// The window changed size; the new size as far as it could be read (0 × 0 otherwise).
struct Resize {
  std::uint16_t columns = 0;
  std::uint16_t rows = 0;

  friend bool operator==(const Resize&, const Resize&) = default;
};

using Event = std::variant<KeyEvent, Resize>;

// Turns the bytes a terminal in raw mode sends into key events. A lone Esc at the end of what one read gave
// is the Esc key; Esc before other bytes starts a sequence or adds Alt. Ctrl+letter arrives as the control
// byte and comes out as the letter with CONTROL. Bytes that make no key are dropped.
class KeyDecoder {
 public:
  // `more_pending` says the read that gave `bytes` filled its buffer, so more may follow at once.
  void feed(std::string_view bytes, bool more_pending, std::deque<Event>& out);

 private:
  std::string pending_;
};

// Terminal input: key events from the terminal and window-size changes (SIGWINCH through a self-pipe),
// waited for with poll(2). Only one Input may exist at a time, since it owns the signal handler.
class Input {
 public:
  // Reads the terminal that Tty::open finds.
  static Result<Input> open();
  // Reads `fd`, which stays the caller's.
  static Result<Input> open_on(int fd);

  Input(Input&&) noexcept;
  Input& operator=(Input&&) noexcept;
  ~Input();  // puts the previous SIGWINCH handler back

  // Whether an event is ready within `timeout`; a window-size change ends the wait early.
  Result<bool> poll(std::chrono::milliseconds timeout);
  // The next event, waiting for one if none is ready.
  Result<Event> read();

 private:
  struct State;
  explicit Input(std::unique_ptr<State> state);
  static Result<Input> open_with(Tty tty);
  std::unique_ptr<State> state_;
};

}  // namespace orvik::term
