#include "cli/watcher.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "cli/file_watcher.hpp"
#include "fd.hpp"
#include "utf8.hpp"
#include "session_log/parse_line.hpp"
#include "term/text.hpp"

namespace orvik::cli {

namespace fs = std::filesystem;
using session_log::Sender;
using session_log::SessionEvent;

namespace {

namespace msg {
inline constexpr std::string_view no_home = "could not locate ~/.claude directory";
inline constexpr std::string_view not_utf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view not_regular = "not a regular file";
inline constexpr std::string_view watcher_error = "watcher error: {}";
inline constexpr std::string_view notify_error = "notify error: {}";
inline constexpr std::string_view parse_error = "parse error for {}: {}";
inline constexpr std::string_view unparseable = "skipping unparseable line: {}";
}  // namespace msg

// Both ends of valid UTF-8 without Unicode white space.
std::string_view trim(std::string_view s) {
  while (!s.empty()) {
    std::size_t end = 0;
    const auto c = next_char(s, end);
    if (!c || !term::is_white_space(*c)) break;
    s.remove_prefix(end);
  }
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xc0) == 0x80) --start;
    std::size_t end = start;
    const auto c = next_char(s, end);
    if (!c || end != s.size() || !term::is_white_space(*c)) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xc0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xe0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

// Text for a terminal that the dashboard holds: bytes that are not UTF-8 become U+FFFD, and control
// characters, which could act on the terminal, become visible stand-ins.
std::string displayable(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    const auto c = next_char(s, pos);
    if (!c) {
      append_utf8(out, U'\uFFFD');
    } else if (*c < 0x20) {
      append_utf8(out, 0x2400 + *c);  // control pictures
    } else if (*c == 0x7f) {
      append_utf8(out, U'\u2421');
    } else if (*c >= 0x80 && *c < 0xa0) {
      append_utf8(out, U'\uFFFD');
    } else {
      out.append(s.substr(start, pos - start));
    }
  }
  return out;
}

// One diagnostic, in one write so that it is not torn apart by anything else writing to the terminal.
template <class... Args>
void report(std::string_view format, const Args&... args) {
  std::string line = displayable(fmt::format(fmt::runtime(format), args...));
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

void report_parse_error(const fs::path& path, std::string_view error) {
  report(msg::parse_error, std::string_view(path.native()), error);
}

// A buffered reader of whole lines over a file descriptor.
struct LineReader {
  explicit LineReader(int file) : fd(file) {}

  int fd;
  std::array<char, READ_BUFFER_SIZE> buffer{};
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string assembled;  // a line that spans reads, reused for every such line

  struct Line {
    std::string_view bytes;  // valid until the next call; empty at the end of the file
    bool complete = false;   // ended by "\n"
  };

  // The bytes through the next "\n", or up to the end of the file when none follows.
  Result<Line> next() {
    assembled.clear();
    for (;;) {
      if (begin == end) {
        ssize_t n;
        do {
          n = ::read(fd, buffer.data(), buffer.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) return std::unexpected(os_error(errno));
        if (n == 0) return Line{assembled, false};
        begin = 0;
        end = static_cast<std::size_t>(n);
      }
      const char* start = buffer.data() + begin;
      const std::size_t available = end - begin;
      if (const void* lf = std::memchr(start, '\n', available)) {
        const auto len = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
        begin += len;
        // Most lines lie within one read and need no copy.
        if (assembled.empty()) return Line{{start, len}, true};
        assembled.append(start, len);
        return Line{assembled, true};
      }
      assembled.append(start, available);
      begin = end;
    }
  }
};

// The set-up and the loop. Returns the text of a set-up failure, once everything made has been released.
std::optional<std::string> follow(Sender<SessionEvent> events) {
  const auto home = home_dir();
  if (!home) return std::string(msg::no_home);
  const fs::path claude = *home / ".claude";
  Offsets offsets;
  auto [notify_tx, notify_rx] = session_log::channel<NotifyMessage>();
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
    if (std::holds_alternative<session_log::Disconnected>(received)) break;
    if (auto* message = std::get_if<NotifyMessage>(&received)) {
      if (auto* change = std::get_if<Notification>(message)) {
        if (change->kind != ChangeKind::Create && change->kind != ChangeKind::Modify) continue;
        for (const auto& path : change->paths) {
          if (!is_log_path(path)) continue;
          auto tailed = tail_file(path, offsets, events);
          if (!tailed) report_parse_error(path, tailed.error().message);
        }
      } else {
        report(msg::notify_error, std::get<Error>(*message).message);
      }
    }
    if (events.send(session_log::make_heartbeat())) break;
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
Result<Fd> open_log(const fs::path& path) {
  Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) {
    const int err = errno;
    // A socket cannot be opened at all.
    if (err == ENXIO && is_special(path)) return std::unexpected(Error{std::string(msg::not_regular), {}});
    return std::unexpected(os_error(err));
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return std::unexpected(Error{std::string(msg::not_regular), {}});
  return file;
}

}  // namespace

Result<> tail_file(const fs::path& path, Offsets& offsets, Sender<SessionEvent>& events) {
  auto opened = open_log(path);
  if (!opened) return std::unexpected(opened.error());
  const Fd file = std::move(*opened);
  std::uint64_t& offset = offsets.try_emplace(path.native(), 0).first->second;
  if (::lseek(file.fd, static_cast<off_t>(offset), SEEK_SET) < 0) return std::unexpected(os_error(errno));

  LineReader reader(file.fd);
  for (;;) {
    auto line = reader.next();
    if (!line) return std::unexpected(line.error());
    if (line->bytes.empty()) return {};
    const std::uint64_t next = offset + line->bytes.size();
    // A last line without "\n" may still be being written; when it does not read yet, it is read again,
    // whole, at the next change.
    if (!is_utf8(line->bytes)) {
      if (!line->complete) return {};
      report_parse_error(path, msg::not_utf8);
      offset = next;
      continue;
    }
    const std::string_view trimmed = trim(line->bytes);
    if (trimmed.empty()) {
      offset = next;
      continue;
    }
    auto parsed = session_log::parse_line(trimmed);
    if (!parsed) {
      if (!line->complete) return {};
      report(msg::unparseable, session_log::display_parse_error(parsed.error()));
      offset = next;
      continue;
    }
    for (auto& event : *parsed) {
      if (events.send(std::move(event))) return {};  // the dashboard is gone; this line stays unread
    }
    offset = next;
  }
}

void watch_sessions(Sender<SessionEvent> events) {
  if (auto failure = follow(std::move(events))) report(msg::watcher_error, *failure);
}

}  // namespace orvik::cli
