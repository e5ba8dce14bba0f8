#include "session_log/parse_line.hpp"

#include "session_log/json_text.hpp"

#include <algorithm>
#include <utility>

#include "base/overloaded.hpp"
#include "events_from_record.hpp"
#include "reader.hpp"
#include "session_log/timestamp.hpp"

namespace orvik::session_log {
namespace {

using base::overloaded;

// What every event of one line shares; worked out once per line.
struct LineValues {
  Uuid session_id;
  Uuid record_id;
  std::optional<Uuid> parent_id;
  Timestamp timestamp;
  bool is_sidechain = false;

  SessionEvent event(EventKind kind, Uuid id, std::optional<Uuid> parent) const {
    return SessionEvent{std::move(kind), id, session_id, timestamp, parent, is_sidechain};
  }
  // User and Assistant events carry the record's own id and parent.
  SessionEvent record_event(EventKind kind) const { return event(std::move(kind), record_id, parent_id); }
  // Every other event gets an id of its own and hangs below the record.
  SessionEvent child_event(EventKind kind) const { return event(std::move(kind), Uuid::new_v4(), record_id); }
};

std::optional<Uuid> read_uuid(const std::optional<std::string>& text) {
  return text ? Uuid::parse(*text) : std::nullopt;
}

// A record without a readable id of its own still needs one that its events can share.
Uuid uuid_or_fresh(const std::optional<std::string>& text) {
  const auto id = read_uuid(text);
  return id ? *id : Uuid::new_v4();
}

LineValues line_values(const RawRecord& record) {
  auto time = record.timestamp ? parse_rfc3339(*record.timestamp) : std::nullopt;
  return LineValues{
      .session_id = uuid_or_fresh(record.sessionId),
      .record_id = uuid_or_fresh(record.uuid),
      .parent_id = read_uuid(record.parentUuid),
      .timestamp = time ? *time : now_utc(),
      .is_sidechain = record.isSidechain,
  };
}

std::optional<ToolUseResultInfo> tool_run_details(std::optional<RawToolUseResult>&& raw) {
  if (!raw) return std::nullopt;
  return ToolUseResultInfo{
      .stdout_text = std::move(raw->stdout_text),
      .stderr_text = std::move(raw->stderr_text),
      .file_path = raw->file ? std::move(raw->file->filePath) : std::nullopt,
      .interrupted = raw->interrupted,
      .is_image = raw->isImage,
  };
}

void user_events(RawRecord&& record, const LineValues& line, std::vector<SessionEvent>& out) {
  if (!record.message->content) return;
  auto& blocks = *record.message->content;
  out.reserve(blocks.size());
  auto details = tool_run_details(std::move(record.toolUseResult));
  // Each tool result gets its own copy of the details; the last one takes them over.
  std::size_t results_left = static_cast<std::size_t>(std::count_if(blocks.begin(), blocks.end(), [](const auto& b) {
    return std::holds_alternative<RawContent::ToolResult>(b.value);
  }));
  for (auto& block : blocks) {
    std::visit(overloaded{
                   [&](RawContent::Text& text) { out.push_back(line.record_event(User{std::move(text.text)})); },
                   [&](RawContent::ToolResult& result) {
                     auto own = --results_left == 0 ? std::move(details) : details;
                     out.push_back(line.child_event(ToolResult{std::move(result.tool_use_id),
                                                               tool_result_text(std::move(result.content)),
                                                               std::move(own), result.is_error.value_or(false)}));
                   },
                   [](RawContent::ToolUse&) {},
                   [](RawContent::Thinking&) {},
                   [](RawContent::Other&) {},
               },
               block.value);
  }
}

void assistant_events(RawRecord&& record, const LineValues& line, std::vector<SessionEvent>& out) {
  RawMessage& message = *record.message;
  std::string text;
  bool has_text = false;
  if (message.content) {
    out.reserve(message.content->size() + 1);
    for (auto& block : *message.content) {
      std::visit(overloaded{
                     [&](RawContent::Text& t) {
                       if (has_text) {
                         text += '\n';
                         text += t.text;
                       } else {
                         text = std::move(t.text);
                         has_text = true;
                       }
                     },
                     [&](RawContent::ToolUse& use) {
                       out.push_back(line.child_event(
                           ToolUse{std::move(use.id), std::move(use.name), std::move(use.input)}));
                     },
                     [&](RawContent::Thinking& thinking) {
                       out.push_back(line.child_event(
                           Thinking{std::move(thinking.thinking), std::move(thinking.signature)}));
                     },
                     [](RawContent::ToolResult&) {},
                     [](RawContent::Other&) {},
                 },
                 block.value);
    }
  }
  if (!has_text && !message.usage) return;
  std::optional<TokenUsage> usage;
  if (message.usage) {
    const RawUsage& u = *message.usage;
    usage = TokenUsage{u.input_tokens, u.output_tokens, u.cache_read_input_tokens, u.cache_creation_input_tokens};
  }
  out.push_back(line.record_event(Assistant{usage, std::move(text), std::move(message.id)}));
}

}  // namespace

std::string tool_result_text(nlohmann::json&& content) {
  if (content.is_string()) return std::move(content.get_ref<std::string&>());
  if (content.is_array()) {
    std::string text;
    bool first = true;
    for (const auto& element : content) {
      if (!element.is_object()) continue;
      const auto part = element.find("text");
      if (part == element.end() || !part->is_string()) continue;
      if (!first) text += '\n';
      text += part->get_ref<const std::string&>();
      first = false;
    }
    return text;
  }
  return compact_json(content);
}

std::vector<SessionEvent> events_from_record(RawRecord&& record) {
  const bool user = record.type == "user";
  const bool assistant = record.type == "assistant";
  std::vector<SessionEvent> events;
  // Other records give nothing, so nothing is drawn from the clock or the random source for them.
  if (!record.message || !(user || assistant)) return events;
  const LineValues line = line_values(record);
  if (user) {
    user_events(std::move(record), line, events);
  } else {
    assistant_events(std::move(record), line, events);
  }
  return events;
}

std::expected<std::vector<SessionEvent>, ParseError> parse_line(std::string_view line) {
  auto record = read_raw_record(line);
  if (!record) return std::unexpected(ParseError{InvalidField{"line", std::move(record.error())}});
  auto events = events_from_record(std::move(*record));
  keep_record_texts(*record);  // events_from_record only reads these
  return events;
}

}  // namespace orvik::session_log
