#include "term/input.hpp"

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "term/terminal.hpp"

namespace orvik::term {

// So that failed comparisons read as keys.
void PrintTo(const KeyEvent& k, std::ostream* os) {
  *os << "Key{kind " << static_cast<int>(k.code.kind) << ", U+" << std::hex << static_cast<std::uint32_t>(k.code.ch)
      << std::dec << ", F" << int{k.code.f} << ", mods " << int{k.modifiers} << ", " << static_cast<int>(k.kind) << "}";
}
void PrintTo(const Resize& r, std::ostream* os) { *os << "Resize{" << r.columns << "x" << r.rows << "}"; }

namespace {

using Kind = KeyCode::Kind;

KeyEvent key(KeyCode code, std::uint8_t mods = NO_MODIFIERS, KeyEventKind kind = KeyEventKind::Press) {
  return KeyEvent{code, mods, kind};
}
KeyEvent ch(char32_t c, std::uint8_t mods = NO_MODIFIERS) { return key(KeyCode::character(c), mods); }

std::vector<Event> decode(std::initializer_list<std::string_view> reads) {
  KeyDecoder d;
  std::deque<Event> out;
  for (auto r : reads) d.feed(r, false, out);
  return {out.begin(), out.end()};
}

TEST(KeyDecoder, Keys) {
  const struct {
    std::string_view bytes;
    std::vector<Event> expected;
  } cases[] = {
      {"q", {ch(U'q')}},
      {"Q", {ch(U'Q', SHIFT)}},
      {"\x11", {ch(U'q', CONTROL)}},
      {"\x03", {ch(U'c', CONTROL)}},
      {"\x1bq", {ch(U'q', ALT)}},
      {"\x1b\x11", {ch(U'q', ALT | CONTROL)}},
      {"\x1b", {key(KeyCode::of(Kind::Esc))}},
      {"\x1b\x1b", {key(KeyCode::of(Kind::Esc))}},
      {"\r\t\x7f", {key(KeyCode::of(Kind::Enter)), key(KeyCode::of(Kind::Tab)), key(KeyCode::of(Kind::Backspace))}},
      {"\x1b[A\x1b[B\x1b[C\x1b[D",
       {key(KeyCode::of(Kind::Up)), key(KeyCode::of(Kind::Down)), key(KeyCode::of(Kind::Right)),
        key(KeyCode::of(Kind::Left))}},
      {"\x1b[1;5C", {key(KeyCode::of(Kind::Right), CONTROL)}},
      {"\x1b[3~\x1b[5;2~", {key(KeyCode::of(Kind::Delete)), key(KeyCode::of(Kind::PageUp), SHIFT)}},
      {"\x1bOP\x1b[15~\x1b[24~", {key(KeyCode::function(1)), key(KeyCode::function(5)), key(KeyCode::function(12))}},
      {"\x1b[Z", {key(KeyCode::of(Kind::BackTab), SHIFT)}},
      {"é€😀", {ch(U'é'), ch(U'€'), ch(U'😀')}},
      {"\x1b[113;5u\x1b[27u", {ch(U'q', CONTROL), key(KeyCode::of(Kind::Esc))}},
      {"\x1b[113;1:3u", {key(KeyCode::character(U'q'), NO_MODIFIERS, KeyEventKind::Release)}},
      {"\xff" "a\xc3(b", {ch(U'a'), ch(U'b')}},  // bytes that make no character are dropped
      {"\x1b[I\x1b[?1u" "x", {ch(U'x')}},     // complete sequences that are no key are dropped
  };
  for (const auto& c : cases) EXPECT_EQ(decode({c.bytes}), c.expected) << testing::PrintToString(c.bytes);
}

TEST(KeyDecoder, SequencesSplitAcrossReads) {
  // A character whose bytes arrive in two reads.
  EXPECT_EQ(decode({"\xe2\x82", "\xac"}), std::vector<Event>{ch(U'€')});
  // A sequence cut after its introducer waits for the rest.
  EXPECT_EQ(decode({"\x1b[", "1;3D"}), std::vector<Event>{key(KeyCode::of(Kind::Left), ALT)});
  // Esc at the end of a read that filled its buffer is not yet a key.
  KeyDecoder d;
  std::deque<Event> out;
  d.feed("\x1b", true, out);
  EXPECT_TRUE(out.empty());
  d.feed("[A", false, out);
  EXPECT_EQ(std::vector<Event>(out.begin(), out.end()), std::vector<Event>{key(KeyCode::of(Kind::Up))});
}

struct RawPty : ::testing::Test {
  int master = -1, slave = -1;
  void SetUp() override {
    winsize ws{24, 80, 0, 0};
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  void TearDown() override {
    if (master >= 0) ::close(master);
    ::close(slave);
  }
};

TEST_F(RawPty, PollReadsKeysAndTimesOut) {
  auto input = Input::open_on(slave);
  ASSERT_TRUE(input) << input.error().message;
  auto idle = input->poll(std::chrono::milliseconds(10));
  ASSERT_TRUE(idle);
  EXPECT_FALSE(*idle);
  ASSERT_TRUE(base::write_all(master, "x\x1b"));
  auto ready = input->poll(std::chrono::seconds(10));
  ASSERT_TRUE(ready && *ready);
  EXPECT_EQ(input->read().value(), Event{ch(U'x')});
  EXPECT_EQ(input->read().value(), Event{key(KeyCode::of(Kind::Esc))});
}

TEST_F(RawPty, AWindowSizeChangeEndsTheWait) {
  auto input = Input::open_on(slave);
  ASSERT_TRUE(input);
  winsize ws{30, 100, 0, 0};
  ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &ws), 0);
  ASSERT_EQ(::raise(SIGWINCH), 0);  // the pty is not our controlling terminal, so signal ourselves
  auto ready = input->poll(std::chrono::seconds(60));
  ASSERT_TRUE(ready && *ready);
  EXPECT_EQ(input->read().value(), (Event{Resize{100, 30}}));
}

TEST_F(RawPty, OnlyOneInputAtATime) {
  auto first = Input::open_on(slave);
  ASSERT_TRUE(first);
  auto second = Input::open_on(slave);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().message, "Device or resource busy (os error 16)");
  first = std::unexpected(Error{});
  EXPECT_TRUE(Input::open_on(slave));
}

TEST_F(RawPty, AHungUpTerminalIsAnError) {
  auto input = Input::open_on(slave);
  ASSERT_TRUE(input);
  ::close(master);
  master = -1;
  auto ready = input->poll(std::chrono::seconds(10));
  ASSERT_FALSE(ready);
  EXPECT_EQ(ready.error().message, "Input/output error (os error 5)");
}

}  // namespace
}  // namespace orvik::term
