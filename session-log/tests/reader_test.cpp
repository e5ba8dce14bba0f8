#include "session_log/raw.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "../src/reader.hpp"

namespace orvik::session_log {
namespace {

// The canonical dump of the reader vectors: compact JSON, every key present, none as null.
void dump_string(std::string& out, std::string_view s) {
  out += '"';
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20)
          out += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
        else
          out += c;
    }
  }
  out += '"';
}

void dump_optional(std::string& out, const std::optional<std::string>& s) {
  if (s)
    dump_string(out, *s);
  else
    out += "null";
}

void dump_value(std::string& out, const nlohmann::json& v) {
  using T = nlohmann::json::value_t;
  switch (v.type()) {
    case T::null: out += "null"; break;
    case T::boolean: out += v.get<bool>() ? "true" : "false"; break;
    case T::number_unsigned: out += std::to_string(v.get<std::uint64_t>()); break;
    case T::number_integer: out += std::to_string(v.get<std::int64_t>()); break;
    case T::number_float: out += format_double(v.get<double>()); break;
    case T::string: dump_string(out, v.get_ref<const std::string&>()); break;
    case T::array: {
      out += '[';
      bool first = true;
      for (const auto& e : v) {
        if (!first) out += ',';
        first = false;
        dump_value(out, e);
      }
      out += ']';
      break;
    }
    case T::object: {
      out += '{';
      bool first = true;
      for (const auto& [k, e] : v.items()) {
        if (!first) out += ',';
        first = false;
        dump_string(out, k);
        out += ':';
        dump_value(out, e);
      }
      out += '}';
      break;
    }
    default: out += "?"; break;
  }
}

void dump_block(std::string& out, const RawContent& block) {
  std::visit(
      [&](const auto& b) {
        using B = std::decay_t<decltype(b)>;
        if constexpr (std::is_same_v<B, RawContent::Text>) {
          out += R"({"type":"text","text":)";
          dump_string(out, b.text);
        } else if constexpr (std::is_same_v<B, RawContent::ToolUse>) {
          out += R"({"type":"tool_use","id":)";
          dump_string(out, b.id);
          out += R"(,"name":)";
          dump_string(out, b.name);
          out += R"(,"input":)";
          dump_value(out, b.input);
        } else if constexpr (std::is_same_v<B, RawContent::ToolResult>) {
          out += R"({"type":"tool_result","tool_use_id":)";
          dump_string(out, b.tool_use_id);
          out += R"(,"content":)";
          dump_value(out, b.content);
          out += R"(,"is_error":)";
          out += b.is_error ? (*b.is_error ? "true" : "false") : "null";
        } else if constexpr (std::is_same_v<B, RawContent::Thinking>) {
          out += R"({"type":"thinking","thinking":)";
          dump_string(out, b.thinking);
          out += R"(,"signature":)";
          dump_optional(out, b.signature);
        } else {
          out += R"({"type":"Other")";
        }
        out += '}';
      },
      block.value);
}

std::string dump(const RawRecord& r) {
  std::string out = R"({"type":)";
  dump_optional(out, r.type);
  out += R"(,"uuid":)";
  dump_optional(out, r.uuid);
  out += R"(,"parentUuid":)";
  dump_optional(out, r.parentUuid);
  out += R"(,"timestamp":)";
  dump_optional(out, r.timestamp);
  out += R"(,"sessionId":)";
  dump_optional(out, r.sessionId);
  out += R"(,"isSidechain":)";
  out += r.isSidechain ? "true" : "false";
  out += R"(,"message":)";
  if (const auto& m = r.message) {
    out += R"({"content":)";
    if (m->content) {
      out += '[';
      for (std::size_t i = 0; i < m->content->size(); ++i) {
        if (i) out += ',';
        dump_block(out, (*m->content)[i]);
      }
      out += ']';
    } else {
      out += "null";
    }
    out += R"(,"usage":)";
    if (const auto& u = m->usage)
      out += fmt::format(
          R"({{"input_tokens":{},"output_tokens":{},"cache_read_input_tokens":{},"cache_creation_input_tokens":{}}})",
          u->input_tokens, u->output_tokens, u->cache_read_input_tokens, u->cache_creation_input_tokens);
    else
      out += "null";
    out += '}';
  } else {
    out += "null";
  }
  out += R"(,"toolUseResult":)";
  if (const auto& t = r.toolUseResult) {
    out += R"({"stdout":)";
    dump_optional(out, t->stdout_text);
    out += R"(,"stderr":)";
    dump_optional(out, t->stderr_text);
    out += fmt::format(R"(,"interrupted":{},"isImage":{},"file":)", t->interrupted, t->isImage);
    if (t->file) {
      out += R"({"filePath":)";
      dump_optional(out, t->file->filePath);
      out += '}';
    } else {
      out += "null";
    }
    out += '}';
  } else {
    out += "null";
  }
  out += '}';
  return out;
}

std::string outcome(std::string_view line) {
  const auto record = read_raw_record(line);
  return record ? "OK " + dump(*record) : record.error();
}

TEST(Reader, MatchesEveryVector) {
  std::ifstream in(TEST_DATA_DIR "/reader_vectors.jsonl");
  ASSERT_TRUE(in) << "missing reader_vectors.jsonl";
  std::string text;
  int count = 0;
  int failures = 0;
  while (std::getline(in, text)) {
    const auto vector = nlohmann::json::parse(text);
    const auto& line = vector.at("line").get_ref<const std::string&>();
    const auto& expected = vector.at("expect").get_ref<const std::string&>();
    ++count;
    const std::string got = outcome(line);
    if (got != expected && ++failures <= 40)
      ADD_FAILURE() << "vector " << count << "\n  line:     " << line.substr(0, 400) << "\n  expected: "
                    << expected.substr(0, 400) << "\n  got:      " << got.substr(0, 400);
  }
  EXPECT_EQ(count, 3086);
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace orvik::session_log
