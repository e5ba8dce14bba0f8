#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/channel.hpp"
#include "session_log/event.hpp"
#include "base/error.hpp"

namespace orvik::cli {

// The trees under ~/.claude that are followed, in the order they are set up.
inline constexpr std::array<std::string_view, 2> WATCHED_DIRS = {"projects", "sessions"};
// The exact, case-sensitive extension of the files that are read.
inline constexpr std::string_view LOG_EXTENSION = "jsonl";
// The longest wait for a notification, and so the pace of Heartbeats while nothing happens.
inline constexpr std::chrono::milliseconds RECV_TIMEOUT{200};
// The least that one read from a log asks for; a line of any length is read whole.
inline constexpr std::size_t READ_BUFFER_SIZE = 8192;

// A last line without "\n" yet, kept between reads of its log so that it is not read again from its start at
// every piece that is appended, with what is known about it so far.
struct Unfinished {
  std::string bytes;  // from the log's offset on
  dev_t device = 0;   // the file they came from: another file, or a shorter one, means reading them again
  ino_t inode = 0;
  std::size_t checked = 0;  // a prefix of whole, valid UTF-8 characters
  bool not_utf8 = false;    // holds bytes that are not UTF-8, so it will not read before its "\n"
  // How far a JSON value at its start has been followed, to know when it may have ended.
  std::size_t scanned = 0;
  int depth = 0;
  bool started = false, in_string = false, escaped = false, ended = false;
  bool tried = false;  // read when its value had ended and did not read: more bytes cannot mend that
};

struct LogState {
  std::uint64_t offset = 0;  // how far the log has been read: its unfinished last line starts here
  Unfinished unfinished;
};

// How far each log has been read, keyed by its path exactly as notified. Entries are never removed.
using Offsets = std::unordered_map<std::string, LogState>;

// HOME when set and not empty; else the home of the current user's password entry when not empty; else none.
std::optional<std::filesystem::path> home_dir();

// The home of the password entry of `uid`; none when there is no entry or its home is empty.
std::optional<std::filesystem::path> password_home(uid_t uid);

// Whether the extension of the last component is exactly LOG_EXTENSION. A component whose only "." is its
// first character has none: ".jsonl" is not a log, "a.b.jsonl" is.
bool is_log_path(const std::filesystem::path& path);

// Reads `path` from its offset to its end and sends the events of each line in order. The offset moves past
// each line once it is handled: its events sent, or its fault reported on stderr (a line that is not UTF-8,
// a line that is not a record). A last line without "\n" that does not read yet is left for the next call,
// which reads only what follows it: what was read of it is kept with the offset, unless the file changed
// under it (another file at the path, or a shorter one).
// A failed send stops the reading with success. Fails with the system's error when the file cannot be
// opened, positioned or read, and with "not a regular file", before reading anything, for a FIFO, a device
// or a socket; the first open of a log makes the offset entry, at 0.
Result<void> tail_file(const std::filesystem::path& path, Offsets& offsets,
                   base::Sender<session_log::SessionEvent>& events);

// The watcher thread: follows the logs under ~/.claude/{projects,sessions} and sends their events, with a
// Heartbeat after every pass that waited out RECV_TIMEOUT, handled a Create or Modify or reported a watch
// error. Returns once a Heartbeat cannot be sent or the file watcher has ended; a set-up failure is printed
// as "watcher error: {}" first. Problems go to stderr, one line each.
void watch_sessions(base::Sender<session_log::SessionEvent> events);

}  // namespace orvik::cli
