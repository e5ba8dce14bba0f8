#pragma once

// Every text the watcher writes to standard error. Those with "{}" holes are fmt formats, checked where
// they are used.

#include <string_view>

namespace orvik::cli::watcher_msg {

inline constexpr std::string_view no_home = "could not locate ~/.claude directory";
inline constexpr std::string_view not_utf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view not_regular = "not a regular file";
inline constexpr std::string_view watcher_error = "watcher error: {}";
inline constexpr std::string_view notify_error = "notify error: {}";
inline constexpr std::string_view parse_error = "parse error for {}: {}";
inline constexpr std::string_view unparseable = "skipping unparseable line: {}";

// The file watcher's own failures.
inline constexpr std::string_view cannot_watch = "cannot watch {}: {}";
// The system's text for ENOSPC, "No space left on device", points the wrong way.
inline constexpr std::string_view watch_limit = "the inotify watch limit is reached; raise fs.inotify.max_user_watches";
inline constexpr std::string_view more_unwatched = "{} more folder{} could not be watched";
inline constexpr std::string_view inotify_failed = "inotify descriptor failed";

}  // namespace orvik::cli::watcher_msg
