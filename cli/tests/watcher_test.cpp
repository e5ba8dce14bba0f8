#include "cli/watcher.hpp"

#include <pwd.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fs_support.hpp"
#include "session_log/parse_line.hpp"

namespace orvik::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using base::Receiver;
using session_log::SessionEvent;
using testing::append;
using testing::StderrCapture;
using testing::TempDir;

// Generous: only what never comes runs into it.
constexpr auto DEADLINE = 10s;

// One user record whose single text block is `text`.
std::string record(std::string_view text) {
  return fmt::format(
      R"({{"parentUuid":null,"isSidechain":false,"type":"user","message":{{"role":"user","content":[{{"type":"text","text":"{}"}}]}},"uuid":"0b7c7a4e-4d1f-4a39-9a0f-1d2c3b4a5e6f","timestamp":"2025-06-01T10:00:00Z","sessionId":"375f3b0b-4b5b-47b1-8bf7-7344a4fc9828"}})",
      text);
}
std::string line(std::string_view text) { return record(text) + "\n"; }

std::optional<std::string> user_text(const SessionEvent& e) {
  if (auto* u = std::get_if<session_log::User>(&e.kind)) return u->text;
  return std::nullopt;
}

// HOME pointed at a temporary folder with ~/.claude/projects and ~/.claude/sessions, stderr captured, and
// watch_sessions on a thread of its own over a real channel.
class WatchSessionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) saved_home_ = home;
    ::setenv("HOME", home_.path.c_str(), 1);
    fs::create_directories(projects());
    fs::create_directories(sessions());
  }

  void TearDown() override {
    stop();
    if (saved_home_) {
      ::setenv("HOME", saved_home_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }

  fs::path claude() const { return home_.path / ".claude"; }
  fs::path projects() const { return claude() / "projects"; }
  fs::path sessions() const { return claude() / "sessions"; }

  void start() {
    auto [tx, rx] = base::channel<SessionEvent>();
    rx_.emplace(std::move(rx));
    thread_ = std::thread([this, tx = std::move(tx)]() mutable {
      watch_sessions(std::move(tx));
      std::lock_guard lock(mutex_);
      done_ = true;
      done_cv_.notify_all();
    });
    // The watches are in place once the first pass has ended.
    next_heartbeat();
  }

  // Drops the receiving end; true when the thread then ended in time.
  bool stop() {
    if (!thread_.joinable()) return true;
    rx_.reset();
    std::unique_lock lock(mutex_);
    const bool ended = done_cv_.wait_for(lock, DEADLINE, [&] { return done_; });
    lock.unlock();
    if (ended) {
      thread_.join();
    } else {
      thread_.detach();
    }
    return ended;
  }

  std::optional<SessionEvent> next(std::chrono::nanoseconds within = DEADLINE) {
    auto got = rx_->recv_timeout(within);
    if (auto* e = std::get_if<SessionEvent>(&got)) return std::move(*e);
    return std::nullopt;
  }

  void next_heartbeat() {
    for (;;) {
      auto e = next();
      ASSERT_TRUE(e.has_value()) << "no Heartbeat";
      if (session_log::is_heartbeat(*e)) return;
      unexpected_.push_back(user_text(*e).value_or("?"));
    }
  }

  // The texts of the next `count` events that are not Heartbeats.
  std::vector<std::string> texts(std::size_t count) {
    std::vector<std::string> got;
    const auto until = std::chrono::steady_clock::now() + DEADLINE;
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
      if (auto e = next(100ms); e && !session_log::is_heartbeat(*e))
        got.push_back(user_text(*e).value_or("?"));
    }
    return got;
  }

  // The texts of everything but Heartbeats that arrives within `window`.
  std::vector<std::string> quiet(std::chrono::milliseconds window = 600ms) {
    std::vector<std::string> got;
    const auto until = std::chrono::steady_clock::now() + window;
    while (std::chrono::steady_clock::now() < until) {
      if (auto e = next(20ms); e && !session_log::is_heartbeat(*e))
        got.push_back(user_text(*e).value_or("?"));
    }
    return got;
  }

  // What stderr holds once it holds `lines` lines, or by the deadline.
  std::string stderr_lines(std::size_t lines) {
    const auto until = std::chrono::steady_clock::now() + DEADLINE;
    std::string text = stderr_.text();
    while (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) < lines &&
           std::chrono::steady_clock::now() < until) {
      next(20ms);
      text = stderr_.text();
    }
    return text;
  }

  using Texts = std::vector<std::string>;

  StderrCapture stderr_;
  TempDir home_;
  std::optional<std::string> saved_home_;
  std::optional<Receiver<SessionEvent>> rx_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  Texts unexpected_;
};

TEST_F(WatchSessionsTest, ReadsALogThatExistedAtStartFromItsBeginningAtItsFirstChange) {
  fs::create_directories(projects() / "p");
  const auto log = projects() / "p" / "s.jsonl";
  append(log, line("one") + line("two"));
  start();
  EXPECT_EQ(quiet(), Texts{});
  append(log, line("three"));
  EXPECT_EQ(texts(3), (Texts{"one", "two", "three"}));
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(WatchSessionsTest, SendsTheEventsOfOneWriteInOrderThenOneHeartbeat) {
  const auto log = sessions() / "s.jsonl";
  append(log, "");
  start();
  append(log, line("a") + line("b"));
  EXPECT_EQ(texts(2), (Texts{"a", "b"}));
  auto after = next();
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(session_log::is_heartbeat(*after));
}

TEST_F(WatchSessionsTest, PassesOverBlankLinesAndLineEndsSilently) {
  const auto log = projects() / "s.jsonl";
  start();
  append(log, "\n   \n" + std::string(R"({"type":"summary","summary":"no events"})") + "\n" + record("a") +
                  "\r\n\t\r\n" + " " + record("b") + " \n");
  EXPECT_EQ(texts(2), (Texts{"a", "b"}));
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(WatchSessionsTest, ReadsOnlyFilesWithTheLogExtension) {
  start();
  for (const char* name : {"x.JSONL", "x.json", "x.jsonl.bak", ".jsonl", "jsonl"})
    append(projects() / name, line(name));
  append(projects() / "x.y.jsonl", line("x.y.jsonl"));
  append(projects() / "x.jsonl", line("x.jsonl"));
  EXPECT_EQ(texts(2), (Texts{"x.y.jsonl", "x.jsonl"}));
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(), "");
}

TEST(IsLogPath, TakesTheExtensionOfTheLastComponent) {
  const struct {
    const char* path;
    bool is_log;
  } cases[] = {
      {"/h/x.jsonl", true},     {"/h/x.y.jsonl", true},  {"x.jsonl", true},         {"/h/..jsonl", true},
      {"/h/x.JSONL", false},    {"/h/x.json", false},    {"/h/x.jsonl.bak", false}, {"/h/.jsonl", false},
      {"/h/jsonl", false},      {"/h/x.jsonl/y", false}, {"/h/x.jsonl\xff", false}, {"/h/x.", false},
      {"/h/a.jsonl/..", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_log_path(c.path), c.is_log) << c.path;
}

TEST_F(WatchSessionsTest, ReportsADirectoryNamedLikeALog) {
  start();
  fs::create_directory(projects() / "d.jsonl");
  EXPECT_EQ(stderr_lines(1), fmt::format("parse error for {}: Is a directory (os error 21)\n",
                                         (projects() / "d.jsonl").string()));
}

// A Unix socket bound at `path`; the name stays after the socket is closed.
void make_socket(const fs::path& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.native().size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.native().size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << std::strerror(errno);
  ::close(fd);
}

TEST_F(WatchSessionsTest, NeverReadsNorWaitsOnAPathNamedLikeALogThatIsNotARegularFile) {
  const auto log = projects() / "s.jsonl";
  append(log, "");
  start();
  const struct {
    const char* name;
    std::function<void(const fs::path&)> make;
  } cases[] = {
      // Opened for reading the usual way, a FIFO without a writer blocks for good.
      {"fifo.jsonl", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
      // Endless: the whole of it would never fit in memory.
      {"zero.jsonl", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
      {"random.jsonl", [](const fs::path& p) { fs::create_symlink("/dev/urandom", p); }},
      {"null.jsonl", [](const fs::path& p) { fs::create_symlink("/dev/null", p); }},
      {"socket.jsonl", make_socket},
  };
  std::string expected;
  std::size_t n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = projects() / c.name;
    c.make(path);
    expected += fmt::format("parse error for {}: not a regular file\n", path.string());
    EXPECT_EQ(stderr_lines(++n), expected);
    // The other logs are still followed.
    const std::string word = fmt::format("after {}", c.name);
    append(log, line(word));
    EXPECT_EQ(texts(1), Texts{word});
  }
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(), expected);
  EXPECT_TRUE(stop());
}

TEST_F(WatchSessionsTest, ShowsAPathThatIsNotTextSafely) {
  start();
  fs::create_directory(projects() / "\xff\x1b[2J.jsonl");
  EXPECT_EQ(stderr_lines(1),
            fmt::format("parse error for {}/\uFFFD\u241B[2J.jsonl: Is a directory (os error 21)\n",
                        projects().string()));
  // The rules of the drawn cells: a bidirectional override would turn the rest of the line around.
  fs::create_directory(projects() / "evil\u202egol.jsonl");
  EXPECT_EQ(stderr_lines(2),
            fmt::format("parse error for {0}/\uFFFD\u241B[2J.jsonl: Is a directory (os error 21)\n"
                        "parse error for {0}/evil\uFFFDgol.jsonl: Is a directory (os error 21)\n",
                        projects().string()));
}

TEST_F(WatchSessionsTest, ReadsARenamedLogFromItsBeginningAndReportsItsOldName) {
  const auto old_path = projects() / "a.jsonl";
  const auto new_path = projects() / "b.jsonl";
  start();
  append(old_path, line("one") + line("two"));
  EXPECT_EQ(texts(2), (Texts{"one", "two"}));
  EXPECT_EQ(quiet(), Texts{});
  fs::rename(old_path, new_path);
  EXPECT_EQ(texts(2), (Texts{"one", "two"}));
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(),
            fmt::format("parse error for {}: No such file or directory (os error 2)\n", old_path.string()));
}

TEST_F(WatchSessionsTest, KeepsTheOffsetOfATruncatedLog) {
  const auto log = projects() / "s.jsonl";
  start();
  append(log, line("1") + line("2") + line("3"));
  EXPECT_EQ(texts(3), (Texts{"1", "2", "3"}));
  fs::resize_file(log, 0);
  append(log, line("4"));
  EXPECT_EQ(quiet(), Texts{});
  append(log, line("5") + line("6"));  // back to the old length: still nothing new
  EXPECT_EQ(quiet(), Texts{});
  append(log, line("7"));
  EXPECT_EQ(texts(1), Texts{"7"});
  EXPECT_EQ(quiet(), Texts{});
}

TEST_F(WatchSessionsTest, SendsOneHeartbeatPerCreateOrModifyAndNoneForOtherKinds) {
  const auto log = projects() / "s.jsonl";
  append(log, "");
  append(projects() / "other", "");
  start();
  constexpr int WRITES = 100;
  const auto began = std::chrono::steady_clock::now();
  // Each append is a Modify and a close after writing (Access); the latter must add nothing.
  for (int i = 0; i < WRITES; ++i) append(log, line(std::to_string(i)));
  fs::remove(projects() / "other");  // and a Remove, which must add nothing either
  int heartbeats = 0, texts_seen = 0;
  const auto until = std::chrono::steady_clock::now() + DEADLINE;
  while (texts_seen < WRITES && std::chrono::steady_clock::now() < until) {
    if (auto e = next(100ms)) (session_log::is_heartbeat(*e) ? heartbeats : texts_seen)++;
  }
  ASSERT_EQ(texts_seen, WRITES);
  const auto settle_until = std::chrono::steady_clock::now() + 500ms;
  while (std::chrono::steady_clock::now() < settle_until) {
    if (auto e = next(20ms)) (session_log::is_heartbeat(*e) ? heartbeats : texts_seen)++;
  }
  const auto elapsed = std::chrono::steady_clock::now() - began;
  // At most one time-out per RECV_TIMEOUT of the window, and one for the window's ends.
  const int timeouts = static_cast<int>(elapsed / RECV_TIMEOUT) + 2;
  EXPECT_GE(heartbeats, WRITES);
  EXPECT_LE(heartbeats, WRITES + timeouts);
  EXPECT_EQ(texts_seen, WRITES);
}

TEST_F(WatchSessionsTest, SendsAHeartbeatEveryTimeOutWhenIdleAndNothingForTreesMadeLater) {
  fs::remove_all(claude());
  start();
  fs::create_directories(projects());
  append(projects() / "s.jsonl", line("unseen"));
  int heartbeats = 0;
  const auto began = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - began < 2s) {
    if (auto e = next(50ms)) {
      EXPECT_TRUE(session_log::is_heartbeat(*e));
      ++heartbeats;
    }
  }
  // About ten; the bounds only tell a steady pace from none at all and from a busy loop.
  EXPECT_GE(heartbeats, 3);
  EXPECT_LE(heartbeats, 15);
}

TEST_F(WatchSessionsTest, EndsAtTheHeartbeatAfterTheReceiverIsDropped) {
  start();
  EXPECT_TRUE(stop());
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(WatchSessionsTest, ReportsALineThatIsNotUtf8OnceAndSendsNothingTwice) {
  const auto log = projects() / "s.jsonl";
  start();
  append(log, line("1") + "{\"type\":\"user\xff\"}\n" + line("2"));
  EXPECT_EQ(texts(2), (Texts{"1", "2"}));
  append(log, line("3"));
  EXPECT_EQ(texts(1), Texts{"3"});
  append(log, line("4"));
  EXPECT_EQ(texts(1), Texts{"4"});
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(),
            fmt::format("parse error for {}: stream did not contain valid UTF-8\n", log.string()));
}

TEST_F(WatchSessionsTest, ReadsARecordAppendedInTwoWritesOnceAndSilently) {
  const auto log = projects() / "s.jsonl";
  start();
  const std::string whole = line("split");
  append(log, whole.substr(0, 40));
  EXPECT_EQ(quiet(), Texts{});
  append(log, whole.substr(40));
  EXPECT_EQ(texts(1), Texts{"split"});
  EXPECT_EQ(quiet(), Texts{});
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(WatchSessionsTest, ReportsAnUnparseableLineOnceAndGoesOn) {
  const auto log = projects() / "s.jsonl";
  start();
  append(log, "not a record\n" + line("after"));
  EXPECT_EQ(texts(1), Texts{"after"});
  append(log, line("later"));
  EXPECT_EQ(texts(1), Texts{"later"});
  const auto error = session_log::parse_line("not a record");
  ASSERT_FALSE(error.has_value());
  EXPECT_EQ(stderr_.text(),
            fmt::format("skipping unparseable line: {}\n", session_log::display_parse_error(error.error())));
}

// What identifies an event apart from its random ids.
std::string signature(const SessionEvent& e) {
  struct {
    std::string operator()(const session_log::ToolUse& t) const {
      return "tool use " + t.tool_use_id + " " + t.name;
    }
    std::string operator()(const session_log::ToolResult& t) const { return "tool result " + t.tool_use_id; }
    std::string operator()(const session_log::Assistant& a) const { return "assistant " + a.text; }
    std::string operator()(const session_log::User& u) const { return "user " + u.text; }
    std::string operator()(const session_log::Thinking& t) const { return "thinking " + t.thinking; }
    std::string operator()(const session_log::Heartbeat&) const { return "heartbeat"; }
  } show;
  return std::visit(show, e.kind);
}

TEST_F(WatchSessionsTest, FollowsTheRealLogsWrittenInPiecesAsParseLineReadsThem) {
  const fs::path real = fs::path(SHARED_DIR) / "corpus" / "real";
  if (!fs::exists(real)) GTEST_SKIP() << "no real logs at " << real;
  std::vector<fs::path> logs;
  for (const auto& entry : fs::recursive_directory_iterator(real)) {
    if (entry.path().extension() == ".jsonl") logs.push_back(entry.path());
  }
  std::sort(logs.begin(), logs.end());
  // The folders exist before the watch starts: files found together in a folder made later may be read
  // in any order.
  for (const auto& source : logs) fs::create_directories(projects() / source.parent_path().filename());
  start();
  Texts expected, got;
  std::string expected_stderr;
  for (const auto& source : logs) {
    const std::string bytes = testing::read_all(source);
    std::size_t at = 0;
    while (at < bytes.size()) {
      auto end = bytes.find('\n', at);
      end = end == std::string::npos ? bytes.size() : end;
      const std::string_view text(bytes.data() + at, end - at);
      at = end + 1;
      if (text.empty()) continue;
      auto parsed = session_log::parse_line(text);
      if (!parsed) {
        expected_stderr +=
            fmt::format("skipping unparseable line: {}\n", session_log::display_parse_error(parsed.error()));
        continue;
      }
      for (const auto& e : *parsed) expected.push_back(signature(e));
    }
    // Pieces that end inside lines and inside characters.
    const auto target = projects() / source.parent_path().filename() / source.filename();
    for (std::size_t piece = 0; piece < bytes.size(); piece += 4093)
      append(target, std::string_view(bytes).substr(piece, 4093));
  }
  const auto until = std::chrono::steady_clock::now() + 3 * DEADLINE;
  while (got.size() < expected.size() && std::chrono::steady_clock::now() < until) {
    if (auto e = next(100ms); e && !session_log::is_heartbeat(*e)) got.push_back(signature(*e));
  }
  for (const auto& e : quiet()) got.push_back(e);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(stderr_.text(), expected_stderr);
}

// tail_file on its own, where the offsets can be seen.
class TailFileTest : public ::testing::Test {
 protected:
  std::vector<std::string> received() {
    std::vector<std::string> got;
    while (auto e = rx_->try_recv()) got.push_back(user_text(*e).value_or("?"));
    return got;
  }

  TempDir dir_;
  fs::path log_ = dir_.path / "s.jsonl";
  Offsets offsets_;
  std::optional<base::Sender<SessionEvent>> tx_;
  std::optional<Receiver<SessionEvent>> rx_;
  StderrCapture stderr_;

  void SetUp() override {
    auto [tx, rx] = base::channel<SessionEvent>();
    tx_.emplace(std::move(tx));
    rx_.emplace(std::move(rx));
  }
  Result<void> tail() { return tail_file(log_, offsets_, *tx_); }
  std::uint64_t offset() { return offsets_.at(log_.native()).offset; }
};

TEST_F(TailFileTest, MovesTheOffsetToTheEndOfWhatWasRead) {
  append(log_, line("a") + line("b"));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(offset(), fs::file_size(log_));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{});
}

TEST_F(TailFileTest, LeavesAnUnfinishedRecordForTheNextCall) {
  const std::string whole = line("split");
  append(log_, line("a") + whole.substr(0, 30));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"a"});
  EXPECT_EQ(offset(), line("a").size());
  append(log_, whole.substr(30));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"split"});
  EXPECT_EQ(offset(), fs::file_size(log_));
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(TailFileTest, HandlesAFinishedRecordWithoutALineFeed) {
  append(log_, record("last"));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"last"});
  EXPECT_EQ(offset(), fs::file_size(log_));
}

TEST_F(TailFileTest, LeavesALastLineCutInsideACharacter) {
  const std::string whole = line("caf\u00e9");
  const auto cut = whole.find("\u00e9") + 1;  // between the two bytes of é
  append(log_, whole.substr(0, cut));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(offset(), 0u);
  append(log_, whole.substr(cut));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"caf\u00e9"});
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(TailFileTest, TrimsUnicodeWhiteSpaceFromBothEndsOfALine) {
  const struct {
    std::string before, after;
    bool reads;
  } cases[] = {
      {" \t", "\t ", true},
      {"", "\r", true},
      {"\r", "\r\r", true},
      {"\u00a0", "\u00a0", true},                // no-break space
      {"\u3000\r", "\r\u3000", true},            // ideographic space
      {"\u2028\u0085", "\u2029\u000b\u000c", true},  // line and paragraph separators, next line, tabs, form feed
      {"\u200b", "", false},                      // zero width space is not white space
      {"", "\ufeff", false},                      // nor is the byte order mark
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.before + "|" + c.after));
    offsets_.clear();
    fs::remove(log_);
    StderrCapture err;
    append(log_, c.before + record("t") + c.after + "\n");
    ASSERT_TRUE(tail().has_value());
    EXPECT_EQ(received(), c.reads ? std::vector<std::string>{"t"} : std::vector<std::string>{});
    EXPECT_EQ(err.text().empty(), c.reads) << err.text();
    EXPECT_EQ(offset(), fs::file_size(log_));
  }
}

TEST_F(TailFileTest, ReadsARecordWrittenInPiecesOnceWhenItEnds) {
  // Brackets and quotes inside its text, and characters that pieces cut in two.
  const std::string json_text = R"(a}\"{]\\ [x café 中 😀 \"})";
  const std::string shown = "a}\"{]\\ [x café 中 😀 \"}";
  const std::string whole = record(json_text);
  for (const std::size_t piece : {1uz, 7uz, 64uz, 4093uz}) {
    SCOPED_TRACE(piece);
    offsets_.clear();
    fs::remove(log_);
    append(log_, "");
    std::vector<std::string> got;
    for (std::size_t at = 0; at < whole.size(); at += piece) {
      append(log_, std::string_view(whole).substr(at, piece));
      ASSERT_TRUE(tail().has_value());
      for (auto& t : received()) got.push_back(t);
      // Nothing before its last byte; all of it at its last.
      EXPECT_EQ(got.size(), at + piece >= whole.size() ? 1u : 0u) << at;
      EXPECT_EQ(offset(), at + piece >= whole.size() ? whole.size() : 0u) << at;
    }
    EXPECT_EQ(got, std::vector<std::string>{shown});
    // The rest of its line is a line of its own.
    append(log_, "\n" + line("next"));
    ASSERT_TRUE(tail().has_value());
    EXPECT_EQ(received(), std::vector<std::string>{"next"});
    EXPECT_EQ(offset(), fs::file_size(log_));
  }
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(TailFileTest, ReadsAnUnfinishedLineAgainFromTheFileWhenTheFileChangedUnderIt) {
  const std::string start = R"({"type":"user","junk)";
  // Another file in its place.
  append(log_, start);
  ASSERT_TRUE(tail().has_value());
  const auto other = dir_.path / "other";
  append(other, line("fresh"));
  fs::rename(other, log_);
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"fresh"});
  // The same file, shorter than what was kept of it, then long again.
  append(log_, start);
  ASSERT_TRUE(tail().has_value());
  fs::resize_file(log_, line("fresh").size());
  ASSERT_TRUE(tail().has_value());
  append(log_, line("again"));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"again"});
  EXPECT_EQ(offset(), fs::file_size(log_));
  EXPECT_EQ(stderr_.text(), "");
}

TEST_F(TailFileTest, ReportsAnUnfinishedLineThatIsNotUtf8OnlyOnceItEnds) {
  append(log_, "{\"type\":\"user\xff");
  ASSERT_TRUE(tail().has_value());
  append(log_, "\"}");
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(offset(), 0u);
  EXPECT_EQ(stderr_.text(), "");
  append(log_, "\n" + line("after"));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), std::vector<std::string>{"after"});
  EXPECT_EQ(stderr_.text(), fmt::format("parse error for {}: stream did not contain valid UTF-8\n", log_.string()));
}

TEST_F(TailFileTest, ReadsLinesLongerThanItsBuffer) {
  const std::string big(5 * READ_BUFFER_SIZE + 17, 'x');
  append(log_, line(big) + line("small"));
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(received(), (std::vector<std::string>{big, "small"}));
}

TEST_F(TailFileTest, StoresNothingPastTheLastLineHandledWhenTheReceiverIsGone) {
  append(log_, line("a"));
  ASSERT_TRUE(tail().has_value());
  append(log_, line("b") + line("c"));
  rx_.reset();
  ASSERT_TRUE(tail().has_value());
  EXPECT_EQ(offset(), line("a").size());
}

TEST_F(TailFileTest, ReadsNothingFromWhatIsNotARegularFileAndMakesNoEntry) {
  fs::create_symlink("/dev/zero", log_);
  auto result = tail();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "not a regular file");
  EXPECT_TRUE(offsets_.empty());
}

TEST_F(TailFileTest, FailsWithTheSystemsErrorAndNoEntryForAMissingFile) {
  auto result = tail();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message, "No such file or directory (os error 2)");
  EXPECT_TRUE(offsets_.empty());
}

TEST(HomeDir, PrefersANonEmptyHome) {
  const char* saved = std::getenv("HOME");
  const std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("HOME", "/somewhere/else", 1);
  EXPECT_EQ(home_dir(), fs::path("/somewhere/else"));
  ::setenv("HOME", "", 1);
  EXPECT_EQ(home_dir(), password_home(::getuid()));
  ::unsetenv("HOME");
  EXPECT_EQ(home_dir(), password_home(::getuid()));
  if (restore) ::setenv("HOME", restore->c_str(), 1);
}

uid_t uid_without_entry() {
  uid_t uid = 54321;
  while (::getpwuid(uid) != nullptr) ++uid;
  return uid;
}

TEST(HomeDir, IsNoneForAUserWithoutAPasswordEntry) {
  EXPECT_EQ(password_home(uid_without_entry()), std::nullopt);
}

// Runs `body` in a child process with fd 2 on a pipe; its exit status and everything it wrote there.
std::pair<int, std::string> in_child(const std::function<int()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {-1, "pipe failed"};
  const pid_t child = ::fork();
  if (child < 0) return {-1, "fork failed"};
  if (child == 0) {
    ::dup2(pipe_fds[1], 2);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::_exit(body());
  }
  ::close(pipe_fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

bool write_file(const char* path, std::string_view text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Root of a user namespace of its own, where the inotify watch limit can be set low without touching the
// machine's. False where such namespaces are not allowed.
bool own_watch_limit(int limit) {
  if (::unshare(CLONE_NEWUSER) != 0) return false;
  return write_file("/proc/self/uid_map", "0 0 1") && write_file("/proc/self/setgroups", "deny") &&
         write_file("/proc/self/gid_map", "0 0 1") &&
         write_file("/proc/sys/user/max_inotify_watches", std::to_string(limit));
}

TEST(WatchSessions, ReportsEachFolderThatCannotBeWatchedOnceAndFollowsTheRest) {
  constexpr int NO_NAMESPACE = 77;
  TempDir home;
  const fs::path projects = home.path / ".claude" / "projects";
  // Twelve folders at start and room for four watches: the tree's top and three of them.
  for (int i = 0; i < 12; ++i) fs::create_directories(projects / fmt::format("d{:02}", i));
  const std::string limit_text = "the inotify watch limit is reached; raise fs.inotify.max_user_watches";
  auto [status, text] = in_child([&] {
    if (!own_watch_limit(4)) return NO_NAMESPACE;
    ::setenv("HOME", home.path.c_str(), 1);
    auto [tx, receiver] = base::channel<SessionEvent>();
    std::optional<Receiver<SessionEvent>> rx(std::move(receiver));
    std::thread watcher(watch_sessions, std::move(tx));
    // The next event that is not a Heartbeat, or with `heartbeat` the next Heartbeat.
    auto next_text = [&rx](bool heartbeat = false) -> std::string {
      const auto until = std::chrono::steady_clock::now() + DEADLINE;
      while (std::chrono::steady_clock::now() < until) {
        auto got = rx->recv_timeout(DEADLINE);
        auto* e = std::get_if<SessionEvent>(&got);
        if (e == nullptr) break;
        if (session_log::is_heartbeat(*e) == heartbeat) return user_text(*e).value_or("heartbeat");
      }
      return "nothing";
    };
    next_text(true);  // the watches are in place
    // Made after start: each is one more folder over the limit.
    fs::create_directory(projects / "new1");
    fs::create_directory(projects / "new2");
    append(projects / "s.jsonl", line("beside them"));
    const std::string first = next_text();
    append(projects / "s.jsonl", line("and later"));
    const std::string second = next_text();
    rx.reset();
    watcher.join();
    std::string summary = "read: " + first + ", " + second + "\n";
    (void)::write(2, summary.data(), summary.size());
    return 0;
  });
  if (status == NO_NAMESPACE) GTEST_SKIP() << "no user namespace of our own with its own inotify watch limit";
  ASSERT_EQ(status, 0) << text;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 9u) << text;
  const std::regex named("notify error: cannot watch " + projects.string() + "/d[0-9]{2}: " + limit_text);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(std::regex_match(lines[i], named)) << lines[i];
  EXPECT_EQ(lines[5], "notify error: 4 more folders could not be watched");
  EXPECT_EQ(lines[6], fmt::format("notify error: cannot watch {}: {}", (projects / "new1").string(), limit_text));
  EXPECT_EQ(lines[7], fmt::format("notify error: cannot watch {}: {}", (projects / "new2").string(), limit_text));
  EXPECT_EQ(lines[8], "read: beside them, and later");
}

TEST(WatchSessions, EndsWithAWatcherErrorWithoutAHomeDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to become a user without a password entry";
  const uid_t uid = uid_without_entry();
  const auto [status, text] = in_child([uid] {
    ::unsetenv("HOME");
    if (::setuid(uid) != 0) return 2;
    auto [tx, rx] = base::channel<SessionEvent>();
    watch_sessions(std::move(tx));
    // The thread ended at once: nothing but the closed channel is left.
    return std::holds_alternative<base::Disconnected>(rx.recv_timeout(0ms)) ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text, "watcher error: could not locate ~/.claude directory\n");
}

}  // namespace
}  // namespace orvik::cli
