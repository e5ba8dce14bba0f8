#include "cli/file_watcher.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fs_support.hpp"
#include "base/channel.hpp"

namespace orvik::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::append;
using testing::TempDir;

// Generous: these wait on the kernel and on a thread, and only fail when what is awaited never comes.
constexpr auto DEADLINE = 10s;

std::string show(const Notification& n) {
  std::string paths;
  for (const auto& p : n.paths) paths += " " + p.string();
  return fmt::format("kind {} detail {}:{}", static_cast<int>(n.kind), static_cast<int>(n.detail), paths);
}

class FileWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto [tx, rx] = base::channel<NotifyMessage>();
    rx_.emplace(std::move(rx));
    auto watcher =
        FileWatcher::create([tx = std::move(tx)](NotifyMessage m) mutable { (void)tx.send(std::move(m)); });
    ASSERT_TRUE(watcher.has_value()) << watcher.error().message;
    watcher_.emplace(std::move(*watcher));
    ASSERT_TRUE(watcher_->watch(root()).has_value());
  }

  fs::path root() const { return dir_.path; }

  // The next notification that names `path` (others are set aside in `seen_`), or none by the deadline.
  std::optional<Notification> next_for(const fs::path& path) {
    const auto until = std::chrono::steady_clock::now() + DEADLINE;
    while (std::chrono::steady_clock::now() < until) {
      auto got = rx_->recv_timeout(100ms);
      if (std::holds_alternative<base::Disconnected>(got)) return std::nullopt;
      auto* message = std::get_if<NotifyMessage>(&got);
      if (message == nullptr) continue;
      auto* n = std::get_if<Notification>(message);
      if (n == nullptr) continue;
      for (const auto& p : n->paths) {
        if (p == path) return *n;
      }
      seen_.push_back(*n);
    }
    return std::nullopt;
  }

  // Everything that arrives within `window`.
  std::vector<Notification> drain(std::chrono::milliseconds window) {
    std::vector<Notification> got;
    const auto until = std::chrono::steady_clock::now() + window;
    while (std::chrono::steady_clock::now() < until) {
      auto m = rx_->recv_timeout(20ms);
      if (auto* message = std::get_if<NotifyMessage>(&m)) {
        if (auto* n = std::get_if<Notification>(message)) got.push_back(*n);
      }
    }
    return got;
  }

  void expect_next(const fs::path& path, ChangeKind kind, ChangeDetail detail,
                   std::vector<fs::path> paths = {}) {
    if (paths.empty()) paths = {path};
    auto n = next_for(path);
    ASSERT_TRUE(n.has_value()) << "nothing for " << path;
    EXPECT_EQ(n->kind, kind) << show(*n);
    EXPECT_EQ(n->detail, detail) << show(*n);
    EXPECT_EQ(n->paths, paths) << show(*n);
  }

  TempDir dir_;
  TempDir outside_;
  std::optional<base::Receiver<NotifyMessage>> rx_;
  std::optional<FileWatcher> watcher_;
  std::vector<Notification> seen_;
};

TEST_F(FileWatcherTest, ReportsTheLifeOfAFile) {
  const auto f = root() / "a.jsonl";
  append(f, "one\n");
  expect_next(f, ChangeKind::Create, ChangeDetail::File);
  expect_next(f, ChangeKind::Modify, ChangeDetail::Data);
  expect_next(f, ChangeKind::Access, ChangeDetail::CloseWrite);
  ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
  expect_next(f, ChangeKind::Modify, ChangeDetail::Metadata);
  fs::remove(f);
  expect_next(f, ChangeKind::Remove, ChangeDetail::File);
}

TEST_F(FileWatcherTest, WatchesDirectoriesThatExistedBelowTheRoot) {
  fs::create_directories(root() / "a" / "b");
  // A new watcher, so that the tree exists before the watch.
  SetUp();
  const auto f = root() / "a" / "b" / "x.jsonl";
  append(f, "x\n");
  expect_next(f, ChangeKind::Create, ChangeDetail::File);
  expect_next(f, ChangeKind::Modify, ChangeDetail::Data);
}

TEST_F(FileWatcherTest, WatchesDirectoriesCreatedLater) {
  const auto d = root() / "new";
  fs::create_directory(d);
  expect_next(d, ChangeKind::Create, ChangeDetail::Folder);
  const auto f = d / "x.jsonl";
  append(f, "x\n");
  expect_next(f, ChangeKind::Create, ChangeDetail::File);
  expect_next(f, ChangeKind::Modify, ChangeDetail::Data);
}

TEST_F(FileWatcherTest, ReportsFilesMadeInANewDirectoryBeforeItsWatch) {
  // Made as fast as possible after the directory, so that many are in place before the watch is.
  for (int i = 0; i < 20; ++i) {
    const auto d = root() / fmt::format("p{}", i) / "deep";
    fs::create_directories(d);
    append(d / "s.jsonl", "x\n");
  }
  for (int i = 0; i < 20; ++i) {
    const auto f = root() / fmt::format("p{}", i) / "deep" / "s.jsonl";
    std::optional<Notification> n;
    do {
      n = next_for(f);
      ASSERT_TRUE(n.has_value()) << "never heard of " << f;
    } while (n->kind != ChangeKind::Create);
  }
  // And they stay watched.
  const auto f = root() / "p7" / "deep" / "s.jsonl";
  drain(300ms);
  append(f, "y\n");
  expect_next(f, ChangeKind::Modify, ChangeDetail::Data);
}

TEST_F(FileWatcherTest, PairsTheTwoEndsOfARenameInsideTheTree) {
  const auto from = root() / "a.jsonl";
  const auto to = root() / "b.jsonl";
  append(from, "x\n");
  drain(300ms);
  fs::rename(from, to);
  expect_next(from, ChangeKind::Modify, ChangeDetail::RenameBoth, {from, to});
  // One notification for the rename, not one per end as well.
  for (const auto& n : drain(300ms)) ADD_FAILURE() << "also " << show(n);
}

TEST_F(FileWatcherTest, ReportsOneEndOfARenameAcrossTheTreesEdge) {
  const auto inside = root() / "a.jsonl";
  const auto away = outside_.path / "a.jsonl";
  append(inside, "x\n");
  drain(300ms);
  fs::rename(inside, away);
  expect_next(inside, ChangeKind::Modify, ChangeDetail::RenameFrom);
  fs::rename(away, inside);
  expect_next(inside, ChangeKind::Modify, ChangeDetail::RenameTo);
}

TEST_F(FileWatcherTest, FollowsADirectoryRenamedInsideTheTree) {
  fs::create_directories(root() / "a" / "sub");
  drain(300ms);
  fs::rename(root() / "a", root() / "b");
  expect_next(root() / "a", ChangeKind::Modify, ChangeDetail::RenameBoth, {root() / "a", root() / "b"});
  const auto f = root() / "b" / "sub" / "x.jsonl";
  append(f, "x\n");
  expect_next(f, ChangeKind::Create, ChangeDetail::File);
}

TEST_F(FileWatcherTest, ForgetsADirectoryMovedOutOfTheTree) {
  fs::create_directories(root() / "a");
  drain(300ms);
  fs::rename(root() / "a", outside_.path / "a");
  expect_next(root() / "a", ChangeKind::Modify, ChangeDetail::RenameFrom);
  append(outside_.path / "a" / "x.jsonl", "x\n");
  for (const auto& n : drain(300ms)) ADD_FAILURE() << "heard " << show(n);
}

TEST_F(FileWatcherTest, WatchesADirectoryMovedIntoTheTreeWithoutReportingItsContents) {
  fs::create_directories(outside_.path / "d");
  append(outside_.path / "d" / "old.jsonl", "x\n");
  fs::rename(outside_.path / "d", root() / "d");
  expect_next(root() / "d", ChangeKind::Modify, ChangeDetail::RenameTo);
  for (const auto& n : drain(300ms)) ADD_FAILURE() << "heard " << show(n);
  append(root() / "d" / "old.jsonl", "y\n");
  expect_next(root() / "d" / "old.jsonl", ChangeKind::Modify, ChangeDetail::Data);
}

TEST_F(FileWatcherTest, ReportsADeletedDirectoryFromItsParentAndItself) {
  const auto d = root() / "gone";
  fs::create_directories(d);
  drain(300ms);
  fs::remove(d);
  std::vector<ChangeDetail> details;
  for (int i = 0; i < 2; ++i) {
    auto n = next_for(d);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->kind, ChangeKind::Remove) << show(*n);
    details.push_back(n->detail);
  }
  std::sort(details.begin(), details.end());
  EXPECT_EQ(details, (std::vector<ChangeDetail>{ChangeDetail::Any, ChangeDetail::Folder}));
}

// Holds the watcher's thread in its handler until opened, so that changes pile up in the kernel meanwhile.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened_cv;
  bool opened = false;

  void pass() {
    std::unique_lock lock(mutex);
    opened_cv.wait(lock, [&] { return opened; });
  }
  void open() {
    {
      std::lock_guard lock(mutex);
      opened = true;
    }
    opened_cv.notify_all();
  }
};

FileWatcher gated_watcher(Gate& gate, base::Sender<NotifyMessage> tx, const fs::path& root) {
  auto watcher = FileWatcher::create([&gate, tx = std::move(tx)](NotifyMessage m) mutable {
    gate.pass();
    (void)tx.send(std::move(m));
  });
  EXPECT_TRUE(watcher.has_value());
  EXPECT_TRUE(watcher->watch(root).has_value());
  return std::move(*watcher);
}

TEST(FileWatcher, ReportsLostNotificationsAsOtherAndStillWatchesWhatWasMadeMeanwhile) {
  TempDir dir;
  Gate gate;
  auto [tx, rx] = base::channel<NotifyMessage>();
  auto watcher = gated_watcher(gate, std::move(tx), dir.path);
  const auto a = dir.path / "a";
  const auto b = dir.path / "b";
  append(a, "");
  append(b, "");
  // Alternating files, since the kernel merges a repeat of the event just before it.
  for (int i = 0; i < 20000; ++i) ::chmod((i % 2 ? a : b).c_str(), (i % 4 < 2) ? 0600 : 0644);
  // Its creation is lost with the rest; it is watched all the same.
  const auto late = dir.path / "late";
  fs::create_directory(late);
  gate.open();
  bool overflow = false;
  const auto until = std::chrono::steady_clock::now() + DEADLINE;
  while (!overflow && std::chrono::steady_clock::now() < until) {
    auto got = rx.recv_timeout(100ms);
    if (auto* m = std::get_if<NotifyMessage>(&got)) {
      if (auto* n = std::get_if<Notification>(m); n && n->kind == ChangeKind::Other) {
        overflow = true;
        EXPECT_TRUE(n->paths.empty());
      }
    }
  }
  EXPECT_TRUE(overflow);
  append(late / "x.jsonl", "x\n");
  bool heard = false;
  while (!heard && std::chrono::steady_clock::now() < until + DEADLINE) {
    auto got = rx.recv_timeout(100ms);
    if (auto* m = std::get_if<NotifyMessage>(&got)) {
      if (auto* n = std::get_if<Notification>(m)) heard = n->paths == std::vector<fs::path>{late / "x.jsonl"};
    }
  }
  EXPECT_TRUE(heard);
}

TEST(FileWatcher, DoesNotReportTheTreeAgainThroughALinkInANewDirectory) {
  TempDir dir;
  append(dir.path / "old.jsonl", "x\n");
  Gate gate;
  auto [tx, rx] = base::channel<NotifyMessage>();
  auto watcher = gated_watcher(gate, std::move(tx), dir.path);
  append(dir.path / "first", "");  // holds the thread in the handler
  // So both are in place when the new directory is first looked into.
  fs::create_directory(dir.path / "n");
  fs::create_directory_symlink(dir.path, dir.path / "n" / "up");
  append(dir.path / "last", "");
  gate.open();
  bool last_seen = false;
  const auto until = std::chrono::steady_clock::now() + DEADLINE;
  while (!last_seen && std::chrono::steady_clock::now() < until) {
    auto got = rx.recv_timeout(100ms);
    auto* m = std::get_if<NotifyMessage>(&got);
    if (m == nullptr) continue;
    auto* n = std::get_if<Notification>(m);
    if (n == nullptr) continue;
    for (const auto& p : n->paths) {
      EXPECT_NE(p.parent_path(), dir.path / "n" / "up") << show(*n);
      last_seen |= p == dir.path / "last";
    }
  }
  EXPECT_TRUE(last_seen);
}

TEST(FileWatcher, FailsToWatchAMissingPathWithTheSystemsReason) {
  TempDir dir;
  auto watcher = FileWatcher::create([](NotifyMessage) {});
  ASSERT_TRUE(watcher.has_value());
  const auto missing = dir.path / "missing";
  auto result = watcher->watch(missing);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message,
            fmt::format("cannot watch {}: No such file or directory (os error 2)", missing.string()));
}

TEST(FileWatcher, DroppingItEndsItsThreadAndReleasesTheHandler) {
  TempDir dir;
  auto [tx, rx] = base::channel<NotifyMessage>();
  {
    auto watcher =
        FileWatcher::create([tx = std::move(tx)](NotifyMessage m) mutable { (void)tx.send(std::move(m)); });
    ASSERT_TRUE(watcher.has_value());
    ASSERT_TRUE(watcher->watch(dir.path).has_value());
  }
  EXPECT_TRUE(std::holds_alternative<base::Disconnected>(rx.recv_timeout(DEADLINE)));
}

}  // namespace
}  // namespace orvik::cli
