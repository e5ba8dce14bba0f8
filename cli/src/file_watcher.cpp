#include "cli/file_watcher.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "base/fd.hpp"
#include "watcher_messages.hpp"

namespace orvik::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t WATCH_MASK = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MODIFY |
                                     IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF;

// Large enough that the two halves of a rename almost always arrive in one read.
constexpr std::size_t EVENT_BUFFER_SIZE = 64 * 1024;

struct RawEvent {
  int wd;
  std::uint32_t mask;
  std::uint32_t cookie;
  std::string_view name;
};

// Folders that cannot be watched named one by one in a walk; the rest are counted in one line.
constexpr std::size_t UNWATCHED_NAMED = 5;

Error watch_error(const fs::path& path, int errnum) {
  const std::string reason = errnum == ENOSPC ? std::string(watcher_msg::watch_limit) : os_error_text(errnum);
  return Error{fmt::format(watcher_msg::cannot_watch, path.native(), reason), {}};
}

bool is_under(std::string_view path, std::string_view root) {
  return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

}  // namespace

struct FileWatcher::Impl {
  base::Fd inotify;
  base::Fd wake;
  std::atomic<bool> stopping{false};

  // Both the owner (watch) and the thread change the watches.
  std::mutex mutex;
  std::unordered_map<int, fs::path> path_of;
  std::map<std::string, int> wd_of;    // ordered, so that a tree is one range of keys
  std::vector<NotifyMessage> pending;  // problems met by watch(), for the thread to hand on
  std::vector<fs::path> roots;
  std::unordered_set<std::string> unwatched;  // folders already reported as not watchable

  std::thread thread;

  ~Impl() {
    stopping = true;
    wake_up();
    if (thread.joinable()) thread.join();
  }

  void wake_up() {
    const std::uint64_t one = 1;
    // The counter only has to become non-zero; a full counter is as good.
    [[maybe_unused]] auto n = ::write(wake.fd, &one, sizeof one);
  }

  // Watches `root` and the directories below it. With `report_contents` everything found is reported as
  // created. A folder that cannot be watched is reported to `out`, once for as long as it stays so; a failure
  // on `root` itself is returned instead when `root_required`.
  Result<void> add_tree(const fs::path& root, bool report_contents, bool root_required,
                    std::vector<NotifyMessage>& out) {
    std::vector<fs::path> todo{root};
    std::unordered_set<int> visited;
    std::vector<Error> failures;
    for (bool is_root = true; !todo.empty(); is_root = false) {
      fs::path dir = std::move(todo.back());
      todo.pop_back();
      const std::uint32_t mask = is_root ? WATCH_MASK : WATCH_MASK | IN_ONLYDIR;
      const int wd = ::inotify_add_watch(inotify.fd, dir.c_str(), mask);
      if (wd < 0) {
        const int err = errno;
        if (is_root && root_required) return std::unexpected(watch_error(dir, err));
        // Gone again, or no longer a directory: nothing to watch.
        if (err != ENOENT && err != ENOTDIR && unwatched.insert(dir.native()).second)
          failures.push_back(watch_error(dir, err));
        continue;
      }
      unwatched.erase(dir.native());
      // A directory reached a second way (a link loop) is walked once.
      if (!visited.insert(wd).second) continue;
      // One already watched keeps the name it was found under first. What it holds was reported in its
      // time, so a walk that reports does not go into it (a link to an older part of the tree).
      if (path_of.emplace(wd, dir).second) {
        wd_of[dir.native()] = wd;
      } else if (report_contents) {
        continue;
      }

      std::error_code ec;
      for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        const bool is_dir = it->is_directory(type_ec);
        if (report_contents) {
          const auto detail = is_dir ? ChangeDetail::Folder : ChangeDetail::File;
          out.emplace_back(Notification{ChangeKind::Create, detail, {it->path()}});
        }
        if (is_dir) todo.push_back(it->path());
      }
    }
    // A large tree over the watch limit must not bury the screen.
    for (std::size_t i = 0; i < failures.size() && i < UNWATCHED_NAMED; ++i) out.emplace_back(failures[i]);
    if (const auto more = failures.size() > UNWATCHED_NAMED ? failures.size() - UNWATCHED_NAMED : 0) {
      out.emplace_back(Error{fmt::format(watcher_msg::more_unwatched, more, more == 1 ? "" : "s"), {}});
    }
    return {};
  }

  void forget(int wd) {
    auto it = path_of.find(wd);
    if (it == path_of.end()) return;
    if (auto key = wd_of.find(it->second.native()); key != wd_of.end() && key->second == wd) wd_of.erase(key);
    path_of.erase(it);
  }

  std::vector<std::pair<std::string, int>> tree_of(const std::string& root) {
    std::vector<std::pair<std::string, int>> found;
    for (auto it = wd_of.lower_bound(root); it != wd_of.end() && it->first.starts_with(root); ++it) {
      if (is_under(it->first, root)) found.emplace_back(*it);
    }
    return found;
  }

  // A directory left the trees: stop watching it and everything below.
  void drop_tree(const fs::path& root) {
    for (const auto& [path, wd] : tree_of(root.native())) {
      ::inotify_rm_watch(inotify.fd, wd);
      forget(wd);
    }
  }

  // A directory moved inside the trees: its watches stay, their names change.
  void move_tree(const fs::path& from, const fs::path& to) {
    const std::string& old_root = from.native();
    for (const auto& [path, wd] : tree_of(old_root)) {
      std::string renamed = to.native() + path.substr(old_root.size());
      wd_of.erase(path);
      path_of[wd] = renamed;
      wd_of[std::move(renamed)] = wd;
    }
  }

  void translate(const std::vector<RawEvent>& events, std::vector<NotifyMessage>& out) {
    std::unordered_map<std::uint32_t, std::size_t> moved_to;
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i].mask & IN_MOVED_TO) moved_to.emplace(events[i].cookie, i);
    }
    std::vector<bool> paired(events.size(), false);

    auto path_for = [&](const RawEvent& e) -> std::optional<fs::path> {
      auto it = path_of.find(e.wd);
      if (it == path_of.end()) return std::nullopt;  // a watch already given up
      return e.name.empty() ? it->second : it->second / e.name;
    };
    auto emit = [&](ChangeKind kind, ChangeDetail detail, std::initializer_list<fs::path> paths) {
      out.emplace_back(Notification{kind, detail, std::vector<fs::path>(paths)});
    };

    for (std::size_t i = 0; i < events.size(); ++i) {
      const RawEvent& e = events[i];
      if (e.mask & IN_Q_OVERFLOW) {
        emit(ChangeKind::Other, ChangeDetail::Any, {});
        // Directories made meanwhile went unseen; whatever they hold is older than the overflow's report.
        for (const auto& root : roots) (void)add_tree(root, false, false, out);
        continue;
      }
      if (e.mask & IN_IGNORED) {
        forget(e.wd);
        continue;
      }
      if (paired[i]) continue;
      auto path = path_for(e);
      if (!path) continue;
      const bool is_dir = e.mask & IN_ISDIR;

      if (e.mask & IN_CREATE) {
        emit(ChangeKind::Create, is_dir ? ChangeDetail::Folder : ChangeDetail::File, {*path});
        // Files may have been made in it before its watch was in place: report what is there.
        if (is_dir) (void)add_tree(*path, true, false, out);
      } else if (e.mask & IN_MODIFY) {
        emit(ChangeKind::Modify, ChangeDetail::Data, {*path});
      } else if (e.mask & IN_ATTRIB) {
        emit(ChangeKind::Modify, ChangeDetail::Metadata, {*path});
      } else if (e.mask & IN_CLOSE_WRITE) {
        emit(ChangeKind::Access, ChangeDetail::CloseWrite, {*path});
      } else if (e.mask & IN_MOVED_FROM) {
        auto to = moved_to.find(e.cookie);
        std::optional<fs::path> new_path;
        if (to != moved_to.end() && to->second > i) new_path = path_for(events[to->second]);
        if (new_path) {
          paired[to->second] = true;
          if (is_dir) move_tree(*path, *new_path);
          emit(ChangeKind::Modify, ChangeDetail::RenameBoth, {*path, *new_path});
        } else {
          if (is_dir) drop_tree(*path);
          emit(ChangeKind::Modify, ChangeDetail::RenameFrom, {*path});
        }
      } else if (e.mask & IN_MOVED_TO) {
        emit(ChangeKind::Modify, ChangeDetail::RenameTo, {*path});
        // What came in with it is old history, so it is watched but not reported.
        if (is_dir) (void)add_tree(*path, false, false, out);
      } else if (e.mask & IN_DELETE) {
        if (is_dir) unwatched.erase(path->native());  // a new folder of that name is a new case
        emit(ChangeKind::Remove, is_dir ? ChangeDetail::Folder : ChangeDetail::File, {*path});
      } else if (e.mask & IN_DELETE_SELF) {
        emit(ChangeKind::Remove, ChangeDetail::Any, {*path});
      }
    }
  }

  void run(NotifyHandler handler) {
    alignas(inotify_event) char buffer[EVENT_BUFFER_SIZE];
    pollfd fds[2] = {{inotify.fd, POLLIN, 0}, {wake.fd, POLLIN, 0}};
    std::vector<RawEvent> events;
    std::vector<NotifyMessage> out;
    while (!stopping) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        handler(os_error(errno));
        return;
      }
      if (fds[1].revents) {
        std::uint64_t count;
        (void)base::read_some(wake.fd, &count, sizeof count);  // only clears the count
        if (stopping) return;
        std::lock_guard lock(mutex);
        out.swap(pending);
      }
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        handler(Error{std::string(watcher_msg::inotify_failed), {}});
        return;
      }
      if (fds[0].revents & POLLIN) {
        const auto got = base::read_some(inotify.fd, buffer, sizeof buffer);
        if (!got && got.error() != EAGAIN) {
          handler(os_error(got.error()));
          return;
        }
        const auto n = static_cast<ssize_t>(got.value_or(0));
        events.clear();
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
          const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
          events.push_back({e->wd, e->mask, e->cookie, {e->name, ::strnlen(e->name, e->len)}});
          at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
        std::lock_guard lock(mutex);
        translate(events, out);
      }
      for (auto& message : out) handler(std::move(message));
      out.clear();
    }
  }
};

Result<FileWatcher> FileWatcher::create(NotifyHandler handler) {
  auto impl = std::make_unique<Impl>();
  impl->inotify = base::Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (impl->inotify.fd < 0) return std::unexpected(os_error(errno));
  impl->wake = base::Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (impl->wake.fd < 0) return std::unexpected(os_error(errno));
  try {
    impl->thread =
        std::thread([self = impl.get(), h = std::move(handler)]() mutable { self->run(std::move(h)); });
  } catch (const std::system_error& e) {
    return std::unexpected(Error{e.what(), {}});
  }
  return FileWatcher(std::move(impl));
}

FileWatcher::FileWatcher(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FileWatcher::FileWatcher(FileWatcher&&) noexcept = default;
FileWatcher& FileWatcher::operator=(FileWatcher&&) noexcept = default;
FileWatcher::~FileWatcher() = default;

Result<void> FileWatcher::watch(const fs::path& root) {
  std::lock_guard lock(impl_->mutex);
  const auto before = impl_->pending.size();
  auto result = impl_->add_tree(root, false, true, impl_->pending);
  if (result) impl_->roots.push_back(root);
  if (impl_->pending.size() != before) impl_->wake_up();
  return result;
}

}  // namespace orvik::cli
