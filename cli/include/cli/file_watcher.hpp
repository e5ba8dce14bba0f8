#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

#include "base/error.hpp"

namespace orvik::cli {

enum class ChangeKind { Any, Access, Create, Modify, Remove, Other };

// What more is known about a change; nothing in the watcher depends on it.
enum class ChangeDetail { Any, File, Folder, Data, Metadata, RenameFrom, RenameTo, RenameBoth, CloseWrite };

// One change under a watched tree. A rename whose two ends were both seen names the old path, then the new.
struct Notification {
  ChangeKind kind = ChangeKind::Any;
  ChangeDetail detail = ChangeDetail::Any;
  std::vector<std::filesystem::path> paths;
};

// A change, or a problem the watcher met while following the trees.
using NotifyMessage = std::variant<Notification, Error>;

// Called on the watcher's own thread for every message, in order.
using NotifyHandler = std::move_only_function<void(NotifyMessage)>;

// Recursive inotify watches served by a thread of their own, which holds the handler and drops it on ending.
// A creation is a Create; a directory created later is watched too, and what it already holds is reported
// as created, since it may have been made before its watch was in place. Writes, attribute changes and
// renames are Modify; a close after writing is Access; a deletion is Remove; lost notifications are Other,
// without paths.
class FileWatcher {
 public:
  // Starts the thread. Fails when inotify or the thread cannot be had.
  static Result<FileWatcher> create(NotifyHandler handler);

  FileWatcher(FileWatcher&&) noexcept;
  FileWatcher& operator=(FileWatcher&&) noexcept;
  ~FileWatcher();  // stops the thread and waits for it, which takes no longer than one poll wake-up

  // Watches `root` and every directory below it, now and later. Fails when `root` itself cannot be watched;
  // a directory below it that cannot be (now, created or moved in later, or met again after lost
  // notifications) is reported to the handler as an Error naming it, once, and passed over. One walk names
  // the first few such directories and counts the rest in one more Error.
  Result<void> watch(const std::filesystem::path& root);

  struct Impl;

 private:
  explicit FileWatcher(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvik::cli
