#include "term/input.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <utf8proc.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "base/utf8.hpp"
#include "term/terminal.hpp"

namespace orvik::term {

namespace {

using Kind = KeyCode::Kind;

enum class Parsed : std::uint8_t { Incomplete, Done, Invalid };

struct Outcome {
  Parsed status;
  std::optional<KeyEvent> key;
};

Outcome done(KeyCode code, std::uint8_t mods = NO_MODIFIERS, KeyEventKind kind = KeyEventKind::Press) {
  return {Parsed::Done, KeyEvent{code, mods, kind}};
}
constexpr Outcome incomplete{Parsed::Incomplete, std::nullopt};
constexpr Outcome invalid{Parsed::Invalid, std::nullopt};
constexpr Outcome nothing{Parsed::Done, std::nullopt};  // a complete sequence that is no key we know

// The modifier parameter of a key sequence is 1 + a bit set: shift 1, alt 2, ctrl 4, super 8, hyper 16, meta 32.
std::uint8_t modifiers_from(unsigned param) {
  if (param < 1) return NO_MODIFIERS;
  const unsigned bits = param - 1;
  std::uint8_t mods = NO_MODIFIERS;
  if (bits & 1) mods |= SHIFT;
  if (bits & 2) mods |= ALT;
  if (bits & 4) mods |= CONTROL;
  if (bits & 8) mods |= SUPER;
  if (bits & 16) mods |= HYPER;
  if (bits & 32) mods |= META;
  return mods;
}

// The numbers of a CSI parameter string: groups split by ';', sub-parameters by ':'. Only the first value of
// each group and the second value of the second group (the event kind) are kept.
struct CsiParams {
  unsigned first[4] = {0, 0, 0, 0};
  unsigned second_sub = 0;
  int count = 0;
};

std::optional<CsiParams> read_params(std::string_view s) {
  CsiParams p;
  int group = 0, sub = 0;
  bool any = false;
  unsigned value = 0;
  auto flush = [&] {
    if (group < 4 && sub == 0) p.first[group] = value;
    if (group == 1 && sub == 1) p.second_sub = value;
    value = 0;
  };
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 0x10ffff) return std::nullopt;
      any = true;
    } else if (c == ';') {
      flush();
      ++group;
      sub = 0;
    } else if (c == ':') {
      flush();
      ++sub;
    } else {
      return std::nullopt;
    }
  }
  flush();
  p.count = any || !s.empty() ? group + 1 : 0;
  return p;
}

std::optional<KeyCode> tilde_key(unsigned n) {
  switch (n) {
    case 1: case 7: return KeyCode::of(Kind::Home);
    case 2: return KeyCode::of(Kind::Insert);
    case 3: return KeyCode::of(Kind::Delete);
    case 4: case 8: return KeyCode::of(Kind::End);
    case 5: return KeyCode::of(Kind::PageUp);
    case 6: return KeyCode::of(Kind::PageDown);
    case 11: case 12: case 13: case 14: case 15: return KeyCode::function(static_cast<std::uint8_t>(n - 10));
    case 17: case 18: case 19: case 20: case 21: return KeyCode::function(static_cast<std::uint8_t>(n - 11));
    case 23: case 24: return KeyCode::function(static_cast<std::uint8_t>(n - 12));
    default: return std::nullopt;
  }
}

std::optional<KeyCode> letter_key(char final) {
  switch (final) {
    case 'A': return KeyCode::of(Kind::Up);
    case 'B': return KeyCode::of(Kind::Down);
    case 'C': return KeyCode::of(Kind::Right);
    case 'D': return KeyCode::of(Kind::Left);
    case 'H': return KeyCode::of(Kind::Home);
    case 'F': return KeyCode::of(Kind::End);
    case 'P': return KeyCode::function(1);
    case 'Q': return KeyCode::function(2);
    case 'R': return KeyCode::function(3);
    case 'S': return KeyCode::function(4);
    default: return std::nullopt;
  }
}

// Longest control sequence worth waiting for; anything longer is noise.
constexpr std::size_t MAX_SEQUENCE = 64;

// `buf` starts with ESC '['.
Outcome parse_csi(std::string_view buf) {
  if (buf.size() < 3) return incomplete;
  std::size_t i = 2;
  // Private markers and intermediates before the final byte; keys never use them, but they must be skipped.
  while (i < buf.size()) {
    const auto c = static_cast<unsigned char>(buf[i]);
    if (c >= 0x40 && c <= 0x7e) break;
    if (c < 0x20 || c > 0x3f) return invalid;
    ++i;
  }
  if (i == buf.size()) return buf.size() > MAX_SEQUENCE ? invalid : incomplete;
  const char final = buf[i];
  const std::string_view params_text = buf.substr(2, i - 2);
  if (buf.size() != i + 1) return invalid;
  if (final == 'Z' && params_text.empty()) return done(KeyCode::of(Kind::BackTab), SHIFT);
  const auto params = read_params(params_text);
  if (!params) return nothing;
  const std::uint8_t mods = params->count >= 2 ? modifiers_from(params->first[1]) : std::uint8_t{NO_MODIFIERS};
  KeyEventKind kind = KeyEventKind::Press;
  if (params->second_sub == 2) kind = KeyEventKind::Repeat;
  if (params->second_sub == 3) kind = KeyEventKind::Release;
  if (final == '~') {
    if (auto key = tilde_key(params->first[0])) return done(*key, mods, kind);
    return nothing;
  }
  if (final == 'u') {
    // Keyboard protocol form: the key's code point, then the modifiers and the event kind.
    const unsigned cp = params->first[0];
    switch (cp) {
      case 27: return done(KeyCode::of(Kind::Esc), mods, kind);
      case 13: return done(KeyCode::of(Kind::Enter), mods, kind);
      case 9: return done(KeyCode::of(Kind::Tab), mods, kind);
      case 127: return done(KeyCode::of(Kind::Backspace), mods, kind);
      default:
        if (cp < 0x20 || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff || (cp >= 0xe000 && cp <= 0xf8ff))
          return nothing;
        return done(KeyCode::character(cp), mods, kind);
    }
  }
  if (auto key = letter_key(final)) return done(*key, mods, kind);
  return nothing;
}

// `buf` starts with ESC 'O'.
Outcome parse_ss3(std::string_view buf) {
  if (buf.size() < 3) return incomplete;
  if (auto key = letter_key(buf[2])) return done(*key);
  return nothing;
}

Outcome parse_utf8(std::string_view buf) {
  const auto lead = static_cast<unsigned char>(buf[0]);
  std::size_t need;
  if (lead < 0x80) need = 1;
  else if ((lead & 0xe0) == 0xc0) need = 2;
  else if ((lead & 0xf0) == 0xe0) need = 3;
  else if ((lead & 0xf8) == 0xf0) need = 4;
  else return invalid;
  for (std::size_t i = 1; i < buf.size() && i < need; ++i)
    if ((static_cast<unsigned char>(buf[i]) & 0xc0) != 0x80) return invalid;
  if (buf.size() < need) return incomplete;
  std::size_t end = 0;
  const auto c = base::next_char(buf.substr(0, need), end);
  if (!c || end != need) return invalid;
  const std::uint8_t mods =
      utf8proc_category(static_cast<utf8proc_int32_t>(*c)) == UTF8PROC_CATEGORY_LU ? SHIFT : NO_MODIFIERS;
  return done(KeyCode::character(*c), mods);
}

Outcome parse_event(std::string_view buf, bool more) {
  const auto c = static_cast<unsigned char>(buf[0]);
  if (c == 0x1b) {
    if (buf.size() == 1) return more ? incomplete : done(KeyCode::of(Kind::Esc));
    switch (buf[1]) {
      case 'O': return parse_ss3(buf);
      case '[': return parse_csi(buf);
      case '\x1b': return done(KeyCode::of(Kind::Esc));
      default: {
        Outcome inner = parse_event(buf.substr(1), more);
        if (inner.key) inner.key->modifiers |= ALT;
        return inner;
      }
    }
  }
  switch (c) {
    case '\r': return done(KeyCode::of(Kind::Enter));
    case '\t': return done(KeyCode::of(Kind::Tab));
    case 0x7f: return done(KeyCode::of(Kind::Backspace));
    case 0x00: return done(KeyCode::character(U' '), CONTROL);
    default: break;
  }
  if (c >= 0x01 && c <= 0x1a) return done(KeyCode::character(U'a' + (c - 0x01)), CONTROL);
  if (c >= 0x1c && c <= 0x1f) return done(KeyCode::character(U'4' + (c - 0x1c)), CONTROL);
  return parse_utf8(buf);
}

}  // namespace

void KeyDecoder::feed(std::string_view bytes, bool more_pending, std::deque<Event>& out) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    pending_ += bytes[i];
    const bool more = i + 1 < bytes.size() || more_pending;
    const Outcome o = parse_event(pending_, more);
    if (o.status == Parsed::Incomplete) continue;
    if (o.key) out.emplace_back(*o.key);
    pending_.clear();
  }
}

namespace {

// The self-pipe of the window-size signal. Made once and never closed, so a handler running on another
// thread can never write into a descriptor that has been closed and reused.
std::atomic<int> winch_read_fd{-1};
std::atomic<int> winch_write_fd{-1};
std::atomic<bool> input_open{false};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_winch(int) {
  const int saved = errno;
  const int fd = winch_write_fd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(fd, &byte, 1);  // a full pipe already holds a wake-up
  }
  errno = saved;
}

void drain_winch_pipe() {
  char sink[64];
  while (::read(winch_read_fd.load(), sink, sizeof sink) > 0) {
  }
}

}  // namespace

struct Input::State {
  Tty tty;
  struct sigaction previous {};
  KeyDecoder decoder;
  std::deque<Event> ready;

  ~State() {
    ::sigaction(SIGWINCH, &previous, nullptr);
    input_open.store(false);
  }
};

Input::Input(std::unique_ptr<State> state) : state_(std::move(state)) {}
Input::Input(Input&&) noexcept = default;
Input& Input::operator=(Input&&) noexcept = default;
Input::~Input() = default;

Result<Input> Input::open() {
  auto tty = Tty::open();
  if (!tty) return std::unexpected(std::move(tty.error()));
  return open_with(std::move(*tty));
}

Result<Input> Input::open_on(int fd) { return open_with(Tty(fd, false)); }

Result<Input> Input::open_with(Tty tty) {
  if (input_open.exchange(true)) return std::unexpected(os_error(EBUSY));
  if (winch_read_fd.load() < 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
      const int err = errno;
      input_open.store(false);
      return std::unexpected(os_error(err));
    }
    winch_read_fd.store(fds[0]);
    winch_write_fd.store(fds[1]);
  }
  drain_winch_pipe();  // wake-ups from before this input are not its concern
  struct sigaction action {};
  action.sa_handler = on_winch;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction previous {};
  if (::sigaction(SIGWINCH, &action, &previous) != 0) {
    const int err = errno;
    input_open.store(false);
    return std::unexpected(os_error(err));
  }
  auto state = std::make_unique<State>();
  state->tty = std::move(tty);
  state->previous = previous;
  return Input(std::move(state));
}

Result<bool> Input::poll(std::chrono::milliseconds timeout) {
  State& s = *state_;
  if (!s.ready.empty()) return true;
  using clock = std::chrono::steady_clock;
  const bool forever = timeout.count() < 0;
  const auto deadline = clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
  for (;;) {
    int wait_ms = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{s.tty.fd, POLLIN, 0}, {winch_read_fd.load(), POLLIN, 0}};
    const int n = ::poll(fds, 2, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;  // the handler has written to the pipe if it was SIGWINCH
      return last_os_error();
    }
    if (fds[1].revents & POLLIN) {
      drain_winch_pipe();
      Resize resize;
      if (auto size = window_size(s.tty.fd)) resize = {size->width, size->height};
      s.ready.emplace_back(resize);
    }
    if (fds[0].revents & POLLNVAL) return std::unexpected(os_error(EBADF));
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[1024];
      const auto got = base::read_some(s.tty.fd, buf, sizeof buf);
      if (!got && got.error() != EAGAIN) return std::unexpected(os_error(got.error()));
      // A terminal reads as end of file only once it has hung up.
      if (got == 0) return std::unexpected(os_error(EIO));
      if (got && *got > 0) s.decoder.feed(std::string_view(buf, *got), *got == sizeof buf, s.ready);
    }
    if (!s.ready.empty()) return true;
    if (!forever && clock::now() >= deadline) return false;
  }
}

Result<Event> Input::read() {
  State& s = *state_;
  while (s.ready.empty()) {
    auto got = poll(std::chrono::milliseconds(-1));
    if (!got) return std::unexpected(std::move(got.error()));
  }
  Event e = s.ready.front();
  s.ready.pop_front();
  return e;
}

}  // namespace orvik::term
