#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik::session_log {

// One content block of a message.
struct RawContent {
  struct Text {
    std::string text;
  };
  struct ToolUse {
    std::string id;
    std::string name;
    nlohmann::json input;
  };
  struct ToolResult {
    std::string tool_use_id;
    nlohmann::json content;  // null when absent
    std::optional<bool> is_error;
  };
  struct Thinking {
    std::string thinking;
    std::optional<std::string> signature;
  };
  struct Other {};

  std::variant<Text, ToolUse, ToolResult, Thinking, Other> value;
};

struct RawUsage {
  std::uint64_t input_tokens = 0;
  std::uint64_t output_tokens = 0;
  std::uint64_t cache_read_input_tokens = 0;
  std::uint64_t cache_creation_input_tokens = 0;
};

struct RawMessage {
  std::optional<std::vector<RawContent>> content;
  std::optional<RawUsage> usage;
  // The model response's id, kept from the object form when it is a string.
  std::optional<std::string> id;
};

struct RawToolFile {
  std::optional<std::string> filePath;
};

// `stdout` and `stderr` are the log's keys; the C library reserves those names.
struct RawToolUseResult {
  std::optional<std::string> stdout_text;
  std::optional<std::string> stderr_text;
  bool interrupted = false;
  bool isImage = false;
  std::optional<RawToolFile> file;
};

struct RawRecord {
  std::optional<std::string> type;
  std::optional<std::string> uuid;
  std::optional<std::string> parentUuid;
  std::optional<std::string> timestamp;
  std::optional<std::string> sessionId;
  bool isSidechain = false;
  std::optional<RawMessage> message;
  std::optional<RawToolUseResult> toolUseResult;
};

// Reads one log line as a record. On failure gives the reader's message, ending in
// " at line {} column {}". The line must be valid UTF-8: raw bytes inside strings are not checked.
std::expected<RawRecord, std::string> read_raw_record(std::string_view line);

}  // namespace orvik::session_log
