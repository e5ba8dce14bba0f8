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

// Every real agent log reads without a rejected line once content strings and non-object tool
// results are accepted.
TEST(Reader, ReadsEveryLineOfTheRealLogs) {
  const std::filesystem::path dir = SHARED_DIR "/corpus/real";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) GTEST_SKIP() << "no real logs at " << dir;
  int lines = 0;
  int prompts = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.path().extension() != ".jsonl") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      ++lines;
      const auto record = read_raw_record(line);
      ASSERT_TRUE(record) << entry.path().filename() << ":" << number << ": " << record.error();
      if (record->type == "user" && record->message && record->message->content &&
          record->message->content->size() == 1 &&
          std::holds_alternative<RawContent::Text>(record->message->content->front().value))
        ++prompts;
    }
  }
  EXPECT_GT(lines, 3000);
  EXPECT_GT(prompts, 10);
}

TEST(Reader, KeepsTheMessageIdOnlyWhenItIsAString) {
  const struct {
    std::string_view line;
    std::optional<std::string> id;
  } cases[] = {
      {R"({"message":{"id":"msg_1","content":[]}})", "msg_1"},
      {R"({"message":{"id":"m\u0073g_2"}})", "msg_2"},
      {R"({"message":{"id":5}})", std::nullopt},
      {R"({"message":{"id":{"a":[1e999]}}})", std::nullopt},
      // Passed over like an unlisted key: repeats do not fail, and a later string wins.
      {R"({"message":{"id":"a","id":"b"}})", "b"},
      {R"({"message":{"id":"a","id":null}})", "a"},
      {R"({"message":[null,null]})", std::nullopt},
      // Text that does not decode is passed over too, and never fails the line.
      {R"({"type":"assistant","sessionId":"s","message":{"id":"\ud800","content":[],"usage":{}}})", std::nullopt},
      {R"({"message":{"id":"a","id":"x\udc00"}})", "a"},
  };
  for (const auto& c : cases) {
    const auto record = read_raw_record(c.line);
    ASSERT_TRUE(record) << c.line << ": " << record.error();
    EXPECT_EQ(record->message->id, c.id) << c.line;
  }
  EXPECT_EQ(read_raw_record(R"({"message":{"id":[1,}})").error(), "expected value at line 1 column 21");
  EXPECT_EQ(read_raw_record(R"({"message":{"id":"x\q"}})").error(), "invalid escape at line 1 column 21");
}

TEST(Reader, ContentStringIsOneTextBlockInBothForms) {
  for (const std::string_view line :
       {R"({"message":{"content":"say \"hi\"\n"}})", R"({"message":["say \"hi\"\n",null]})"}) {
    const auto record = read_raw_record(line);
    ASSERT_TRUE(record) << line << ": " << record.error();
    ASSERT_EQ(record->message->content->size(), 1u);
    EXPECT_EQ(std::get<RawContent::Text>(record->message->content->front().value).text, "say \"hi\"\n");
  }
}

TEST(Reader, NestingDepth) {
  const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  // Skipped values take no budget and no stack, however deep.
  EXPECT_TRUE(read_raw_record(R"({"x":)" + nested(1000000) + "}"));
  EXPECT_EQ(read_raw_record(R"({"x":)" + std::string(1000000, '[')).error(),
            "EOF while parsing a list at line 1 column 1000005");
  // A tool input is levels 5 and up: 123 arrays read, the 124th bracket fails.
  const std::string tool_use = R"({"message":{"content":[{"type":"tool_use","id":"i","name":"n","input":)";
  EXPECT_TRUE(read_raw_record(tool_use + nested(123) + "}]}}"));
  EXPECT_EQ(read_raw_record(tool_use + nested(124) + "}]}}").error(),
            fmt::format("recursion limit exceeded at line 1 column {}", tool_use.size() + 124));
  // Members that no field takes are still read whole, so they count as well.
  const std::string text = R"({"message":{"content":[{"type":"text","text":"a","x":)";
  EXPECT_EQ(read_raw_record(text + std::string(200000, '[')).error(),
            fmt::format("recursion limit exceeded at line 1 column {}", text.size() + 124));
}

TEST(Reader, RendersFoundStrings) {
  // The decoded text of a wrong-typed string, with the characters that do not show escaped.
  const struct {
    std::string_view escaped, shown;
  } cases[] = {
      {R"(a\"b\\c/)", R"("a\"b\\c/")"},
      {R"(\t\n\r\u0000)", R"("\t\n\r\0")"},
      {R"(\b\f\u001f\u007f)", R"("\u{8}\u{c}\u{1f}\u{7f}")"},
      {R"(a b\u00a0\u2028\u2029\u3000)", R"("a b\u{a0}\u{2028}\u{2029}\u{3000}")"},    // Zs, Zl, Zp
      {R"(\u200b\u200d\u00ad\ufeff)", R"("\u{200b}\u{200d}\u{ad}\u{feff}")"},       // Cf
      {R"(\ue000\u0378\ud83f\udffe)", R"("\u{e000}\u{378}\u{1fffe}")"},           // Co, Cn
      {R"(e\u0301\ufe0f\u09be)", R"("e\u{301}\u{fe0f}\u{9be}")"},                 // Grapheme_Extend
      {R"(\u0903\ud83d\udc4d\ud83c\udffb)", "\"\u0903\U0001F44D\U0001F3FB\""},  // spacing mark, skin tone
      {R"(caf\u00e9 \u65e5\u672c)", "\"caf\u00e9 \u65e5\u672c\""},
  };
  for (const auto& c : cases) {
    const std::string line = fmt::format(R"({{"isSidechain":"{}"}})", c.escaped);
    EXPECT_EQ(read_raw_record(line).error(),
              fmt::format("invalid type: string {}, expected a boolean at line 1 column {}", c.shown, line.size() - 1))
        << line;
  }
}

TEST(Reader, RendersFoundNumbersShortest) {
  const struct {
    std::string_view literal, shown;
  } cases[] = {
      {"0.1", "0.1"},
      {"100000000000000000000", "1e+20"},
      {"9999999999999998.0", "9999999999999998.0"},
      {"123456.789e3", "123456789.0"},
      {"0.000012345", "0.000012345"},
      {"0.0000012345", "1.2345e-6"},
      {"-2.5E+300", "-2.5e+300"},
      {"5e-324", "5e-324"},
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"0.0123e-99999999999999999999", "0.0"},
      {"0.000e99999", "0.0"},
      {"1.7976931348623157e308", "1.7976931348623157e+308"},
      {"-9223372036854775809", "-9.223372036854776e+18"},
  };
  for (const auto& c : cases) {
    const std::string line = fmt::format(R"({{"isSidechain":{}}})", c.literal);
    EXPECT_EQ(read_raw_record(line).error(),
              fmt::format("invalid type: floating point `{}`, expected a boolean at line 1 column {}", c.shown,
                          line.size() - 1))
        << line;
  }
  EXPECT_EQ(read_raw_record(R"({"isSidechain":-9223372036854775808})").error(),
            "invalid type: integer `-9223372036854775808`, expected a boolean at line 1 column 35");
  for (const std::string_view literal : {"1.8e308", "-0.01e311", "1e99999999999999999999", "12345678901234567890e300"}) {
    const std::string line = fmt::format(R"({{"isSidechain":{}}})", literal);
    EXPECT_EQ(read_raw_record(line).error(), fmt::format("number out of range at line 1 column {}", line.size() - 1));
  }
}

TEST(Reader, CountsLinesAndColumnsFromTheLastLineFeed) {
  EXPECT_EQ(read_raw_record("{\n\"isSidechain\":\r\n null}").error(),
            "invalid type: null, expected a boolean at line 3 column 5");
  EXPECT_EQ(read_raw_record("{\"a\":1}\n\n x").error(), "trailing characters at line 3 column 2");
}

}  // namespace
}  // namespace orvik::session_log
