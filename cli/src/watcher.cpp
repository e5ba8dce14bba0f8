#include "cli/watcher.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "base/fd.hpp"
#include "base/text.hpp"
#include "base/utf8.hpp"
#include "cli/file_watcher.hpp"
#include "session_log/parse_line.hpp"
#include "watcher_messages.hpp"

namespace orvik::cli {

namespace fs = std::filesystem;
using base::Sender;
using session_log::SessionEvent;

namespace {

// One diagnostic, in one write so that it is not torn apart by anything else writing to the terminal.
template <class... Args>
void report(fmt::format_string<const Args&...> format, const Args&... args) {
  std::string line = base::terminal_safe(fmt::format(format, args...));
  line += '\n';
  (void)base::write_all(STDERR_FILENO, line);  // stderr is the only place to say it failed
}

void report_parse_error(const fs::path& path, std::string_view error) {
  report(watcher_msg::parse_error, std::string_view(path.native()), error);
}

// The largest read: big enough that a line rarely spans two, small enough to stay in cache.
constexpr std::size_t MAX_READ_SIZE = 1 << 20;

// Whole lines straight out of the buffer the file is read into. Only a line cut by the end of a read is
// moved, to the front, and a line larger than the buffer makes it grow.
class LineReader {
 public:
  // `carried` is the start of the first line, read earlier; it holds no "\n".
  LineReader(int fd, std::string carried, std::size_t read_size)
      : fd_(fd), buffer_(std::move(carried)), searched_(buffer_.size()), read_size_(read_size) {}

  struct Line {
    std::string_view bytes;  // valid until the next call; empty at the end of the file
    bool complete = false;   // ended by "\n"
  };

  // The bytes through the next "\n", or up to the end of the file when none follows.
  Result<Line> next() {
    for (;;) {
      const char* data = buffer_.data();
      if (const void* lf = std::memchr(data + searched_, '\n', buffer_.size() - searched_)) {
        const auto end = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
        const Line line{{data + begin_, end - begin_}, true};
        begin_ = searched_ = end;
        return line;
      }
      searched_ = buffer_.size();
      if (at_end_) {
        const Line rest{{data + begin_, buffer_.size() - begin_}, false};
        rest_ = begin_;
        begin_ = buffer_.size();
        return rest;
      }
      make_room();
      const std::size_t had = buffer_.size();
      std::expected<std::size_t, int> n;
      buffer_.resize_and_overwrite(buffer_.capacity(), [&](char* p, std::size_t room) {
        n = base::read_some(fd_, p + had, room - had);
        return had + n.value_or(0);
      });
      if (!n) return std::unexpected(os_error(n.error()));
      at_end_ = *n == 0;
    }
  }

  // After the end: the unfinished last line, with its buffer.
  std::string take_rest() && {
    buffer_.erase(0, rest_);
    // Kept until the line ends, so a short line does not hold on to a large buffer meanwhile.
    if (buffer_.size() < buffer_.capacity() / 4) buffer_.shrink_to_fit();
    return std::move(buffer_);
  }

 private:
  void make_room() {
    if (buffer_.capacity() - buffer_.size() >= read_size_) return;
    const std::size_t partial = buffer_.size() - begin_;
    if (partial + read_size_ <= buffer_.capacity()) {
      buffer_.erase(0, begin_);
    } else {
      std::string larger;
      larger.reserve(std::max(partial + read_size_, 2 * buffer_.capacity()));
      larger.append(buffer_, begin_, partial);
      buffer_.swap(larger);
    }
    searched_ -= begin_;
    begin_ = 0;
  }

  int fd_;
  std::string buffer_;
  std::size_t begin_ = 0;     // where the next line starts
  std::size_t searched_ = 0;  // no "\n" in [begin_, searched_)
  std::size_t read_size_;
  bool at_end_ = false;
  std::size_t rest_ = 0;  // where the unfinished last line starts, once the end is reached
};

// Follows a JSON value at the start of the valid UTF-8 `line`, from where the last call stopped, to learn
// whether it may have ended. Only a value that has ended can read; until then parsing it is wasted work.
void follow_value(std::string_view line, Unfinished& u) {
  std::size_t i = u.scanned;
  if (!u.started) {
    // White space before it, as the trim takes it away.
    while (i < line.size()) {
      std::size_t next = i;
      const auto c = base::next_char(line, next);
      if (!c || !base::is_white_space(*c)) break;
      i = next;
    }
    if (i == line.size()) {
      u.scanned = i;
      return;
    }
    u.started = true;
    const char opener = line[i++];
    if (opener == '"') {
      u.in_string = true;
    } else if (opener == '{' || opener == '[') {
      u.depth = 1;
    } else {
      u.ended = true;  // no record, whatever follows; parse_line says why
    }
  }
  for (; i < line.size() && !u.ended; ++i) {
    const char c = line[i];
    if (u.in_string) {
      if (u.escaped) {
        u.escaped = false;
      } else if (c == '\\') {
        u.escaped = true;
      } else if (c == '"') {
        u.in_string = false;
        u.ended = u.depth == 0;
      }
    } else if (c == '"') {
      u.in_string = true;
    } else if (c == '{' || c == '[') {
      ++u.depth;
    } else if (c == '}' || c == ']') {
      u.ended = --u.depth == 0;
    }
  }
  u.scanned = i;
}

// The set-up and the loop. Returns the text of a set-up failure, once everything made has been released.
std::optional<std::string> follow(Sender<SessionEvent> events) {
  const auto home = home_dir();
  if (!home) return std::string(watcher_msg::no_home);
  const fs::path claude = *home / ".claude";
  Offsets offsets;
  auto [notify_tx, notify_rx] = base::channel<NotifyMessage>();
  auto watcher = FileWatcher::create(
      [tx = std::move(notify_tx)](NotifyMessage message) mutable { (void)tx.send(std::move(message)); });
  if (!watcher) return watcher.error().message;
  for (const auto name : WATCHED_DIRS) {
    const fs::path dir = claude / name;
    std::error_code ec;
    if (!fs::exists(dir, ec)) continue;
    if (auto watched = watcher->watch(dir); !watched) return watched.error().message;
  }

  for (;;) {
    auto received = notify_rx.recv_timeout(RECV_TIMEOUT);
    if (std::holds_alternative<base::Disconnected>(received)) break;
    if (auto* message = std::get_if<NotifyMessage>(&received)) {
      if (auto* change = std::get_if<Notification>(message)) {
        if (change->kind != ChangeKind::Create && change->kind != ChangeKind::Modify) continue;
        for (const auto& path : change->paths) {
          if (!is_log_path(path)) continue;
          auto tailed = tail_file(path, offsets, events);
          if (!tailed) report_parse_error(path, tailed.error().message);
        }
      } else {
        report(watcher_msg::notify_error, std::get<Error>(*message).message);
      }
    }
    if (!events.send(session_log::make_heartbeat())) break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<fs::path> password_home(uid_t uid) {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  passwd entry{};
  passwd* found = nullptr;
  for (;;) {
    const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == EINTR) continue;
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    break;
  }
  if (found == nullptr || entry.pw_dir == nullptr || *entry.pw_dir == '\0') return std::nullopt;
  return fs::path(entry.pw_dir);
}

std::optional<fs::path> home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return fs::path(home);
  return password_home(::getuid());
}

bool is_log_path(const fs::path& path) {
  std::string_view name = path.native();
  while (name.size() > 1 && name.ends_with('/')) name.remove_suffix(1);
  if (const auto slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name == "..") return false;
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  return name.substr(dot + 1) == LOG_EXTENSION;
}

namespace {

// Whatever `path` names now is neither a regular file nor a directory.
bool is_special(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// The log opened for reading. A FIFO, a device or a socket named like a log is never read: opening does not
// block (O_NONBLOCK, harmless for a regular file), and what was opened is checked before anything is read. A
// directory keeps the system's own complaint.
struct OpenLog {
  base::Fd file;
  struct stat status;
};

Result<OpenLog> open_log(const fs::path& path) {
  base::Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) {
    const int err = errno;
    // A socket cannot be opened at all.
    if (err == ENXIO && is_special(path)) return std::unexpected(Error{std::string(watcher_msg::not_regular), {}});
    return std::unexpected(os_error(err));
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return std::unexpected(Error{std::string(watcher_msg::not_regular), {}});
  return OpenLog{std::move(file), st};
}

}  // namespace

Result<void> tail_file(const fs::path& path, Offsets& offsets, Sender<SessionEvent>& events) {
  auto opened = open_log(path);
  if (!opened) return std::unexpected(opened.error());
  const auto& [file, st] = *opened;
  LogState& log = offsets.try_emplace(path.native()).first->second;
  // What the line so far was read from must still be there; else it is read again.
  Unfinished line = std::exchange(log.unfinished, {});
  if (line.device != st.st_dev || line.inode != st.st_ino ||
      static_cast<std::uint64_t>(st.st_size) < log.offset + line.bytes.size())
    line = {};
  if (::lseek(file.fd, static_cast<off_t>(log.offset + line.bytes.size()), SEEK_SET) < 0)
    return std::unexpected(os_error(errno));

  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t left = size > log.offset ? size - log.offset : 0;
  LineReader reader(file.fd, std::move(line.bytes),
                    static_cast<std::size_t>(std::clamp<std::uint64_t>(left, READ_BUFFER_SIZE, MAX_READ_SIZE)));
  for (;; line = {}) {
    auto got = reader.next();
    if (!got) return std::unexpected(got.error());
    const std::string_view bytes = got->bytes;
    if (bytes.empty()) return {};
    if (!line.not_utf8) {
      const auto utf8 = base::check_utf8(bytes, line.checked);
      line.not_utf8 = utf8 == base::Utf8Check::Invalid || (utf8 == base::Utf8Check::Truncated && got->complete);
      // A last line cut inside a character waits for the rest of it.
      if (utf8 == base::Utf8Check::Truncated && !got->complete) break;
    }
    if (!got->complete) {
      // A last line without "\n" may still be being written; until it reads it is kept for the next call.
      if (line.not_utf8) break;
      follow_value(bytes, line);
      if (!line.ended || line.tried) break;
      line.tried = true;
    } else if (line.not_utf8) {
      report_parse_error(path, watcher_msg::not_utf8);
      log.offset += bytes.size();
      continue;
    }
    const std::string_view trimmed = base::trim_white_space(bytes);
    if (trimmed.empty()) {
      if (!got->complete) break;
      log.offset += bytes.size();
      continue;
    }
    auto parsed = session_log::parse_line(trimmed);
    if (!parsed) {
      if (!got->complete) break;
      report(watcher_msg::unparseable, session_log::display_parse_error(parsed.error()));
      log.offset += bytes.size();
      continue;
    }
    for (auto& event : *parsed) {
      if (!events.send(std::move(event))) return {};  // the dashboard is gone; this line stays unread
    }
    log.offset += bytes.size();
  }
  line.bytes = std::move(reader).take_rest();
  line.device = st.st_dev;
  line.inode = st.st_ino;
  log.unfinished = std::move(line);
  return {};
}

void watch_sessions(Sender<SessionEvent> events) {
  if (auto failure = follow(std::move(events))) report(watcher_msg::watcher_error, *failure);
}

}  // namespace orvik::cli
