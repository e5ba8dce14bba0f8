#include "session_log/parse_line.hpp"

#include <gtest/gtest.h>

#include <set>

#include <fmt/format.h>

#include "../src/events_from_record.hpp"
#include "session_log/timestamp.hpp"

namespace orvik::session_log {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr std::string_view session_text = "5c0375b4-57a5-4f26-b12d-d022ee4e51b7";
constexpr std::string_view record_text = "1af7fc5e-8455-4414-9ccd-011d40f70b2a";
constexpr std::string_view parent_text = "fe5e1c67-53e7-4862-81ae-d0e013e3270b";
const Uuid session_id = *Uuid::parse(session_text);
const Uuid record_id = *Uuid::parse(record_text);
const Uuid parent_id = *Uuid::parse(parent_text);
const Timestamp written = *parse_rfc3339("2025-09-14T08:00:00.250Z");

RawContent text(std::string t) { return {RawContent::Text{std::move(t)}}; }
RawContent tool_use(std::string id, std::string name, Json input = Json::object()) {
  return {RawContent::ToolUse{std::move(id), std::move(name), std::move(input)}};
}
RawContent tool_result(std::string id, Json content = "done", std::optional<bool> is_error = std::nullopt) {
  return {RawContent::ToolResult{std::move(id), std::move(content), is_error}};
}
RawContent thinking(std::string t, std::optional<std::string> signature = std::nullopt) {
  return {RawContent::Thinking{std::move(t), std::move(signature)}};
}
RawContent other() { return {RawContent::Other{}}; }

// A record as the agent writes it: every id readable, a time, a message with the given blocks.
RawRecord record(std::string type, std::vector<RawContent> content, std::optional<RawUsage> usage = std::nullopt) {
  RawRecord r;
  r.type = std::move(type);
  r.uuid = std::string(record_text);
  r.parentUuid = std::string(parent_text);
  r.timestamp = "2025-09-14T10:00:00.250+02:00";
  r.sessionId = std::string(session_text);
  r.message = RawMessage{std::move(content), usage, std::nullopt};
  return r;
}

enum class Kind { ToolUse, ToolResult, Assistant, User, Thinking, Heartbeat };
Kind kind(const SessionEvent& e) { return static_cast<Kind>(e.kind.index()); }
std::vector<Kind> kinds(const std::vector<SessionEvent>& events) {
  std::vector<Kind> out;
  for (const auto& e : events) out.push_back(kind(e));
  return out;
}

// Every event of a line shares the session, the time and the side-chain mark; record events carry
// the record's id and parent, the others a fresh id each with the record as parent.
void expect_ids_and_parents(const std::vector<SessionEvent>& events, Uuid session, Uuid id,
                            std::optional<Uuid> parent) {
  std::set<Uuid> fresh;
  for (const auto& e : events) {
    EXPECT_EQ(e.session_id, session);
    EXPECT_EQ(e.timestamp, events.front().timestamp);
    EXPECT_EQ(e.is_sidechain, events.front().is_sidechain);
    if (kind(e) == Kind::User || kind(e) == Kind::Assistant) {
      EXPECT_EQ(e.id, id);
      EXPECT_EQ(e.parent_id, parent);
    } else {
      EXPECT_EQ(e.parent_id, id);
      EXPECT_NE(e.id, id);
      EXPECT_EQ(e.id.bytes[6] >> 4, 4) << "a version-4 id";
      EXPECT_TRUE(fresh.insert(e.id).second) << "ids are drawn per event";
    }
  }
}

TEST(EventsFromRecord, UserBlocksGiveEventsInOrder) {
  const auto events = events_from_record(
      record("user", {text("a"), tool_result("toolu_1"), thinking("t"), tool_use("x", "Bash"), other(), text("b")}));
  ASSERT_EQ(kinds(events), (std::vector{Kind::User, Kind::ToolResult, Kind::User}));
  EXPECT_EQ(std::get<User>(events[0].kind).text, "a");
  EXPECT_EQ(std::get<User>(events[2].kind).text, "b");
  const auto& result = std::get<ToolResult>(events[1].kind);
  EXPECT_EQ(result.tool_use_id, "toolu_1");
  EXPECT_EQ(result.content, "done");
  EXPECT_FALSE(result.is_error);
  EXPECT_FALSE(result.tool_use_result);
  expect_ids_and_parents(events, session_id, record_id, parent_id);
  EXPECT_EQ(events[0].timestamp, written);
}

TEST(EventsFromRecord, AssistantEventComesLastWithTheTextsJoined) {
  const auto events = events_from_record(record(
      "assistant",
      {thinking("hmm", "sig"), text("first"), tool_use("toolu_1", "Read", {{"path", "/a"}}), other(),
       tool_result("ignored"), text("second"), tool_use("toolu_2", "Bash")},
      RawUsage{1, 2, 3, 4}));
  ASSERT_EQ(kinds(events), (std::vector{Kind::Thinking, Kind::ToolUse, Kind::ToolUse, Kind::Assistant}));
  const auto& think = std::get<Thinking>(events[0].kind);
  EXPECT_EQ(think.thinking, "hmm");
  EXPECT_EQ(think.signature, "sig");
  const auto& use = std::get<ToolUse>(events[1].kind);
  EXPECT_EQ(use.tool_use_id, "toolu_1");
  EXPECT_EQ(use.name, "Read");
  EXPECT_EQ(use.input, (Json{{"path", "/a"}}));
  EXPECT_EQ(std::get<ToolUse>(events[2].kind).tool_use_id, "toolu_2");
  const auto& turn = std::get<Assistant>(events[3].kind);
  EXPECT_EQ(turn.text, "first\nsecond");
  EXPECT_EQ(turn.usage, (TokenUsage{1, 2, 3, 4}));
  expect_ids_and_parents(events, session_id, record_id, parent_id);
}

TEST(EventsFromRecord, AssistantEventNeedsATextOrAUsage) {
  const struct {
    std::vector<RawContent> content;
    std::optional<RawUsage> usage;
    std::vector<Kind> expected;
    std::string text;
  } cases[] = {
      {{}, RawUsage{}, {Kind::Assistant}, ""},
      {{}, std::nullopt, {}, ""},
      {{tool_use("a", "Bash"), tool_use("b", "Read")}, std::nullopt, {Kind::ToolUse, Kind::ToolUse}, ""},
      {{thinking("t")}, std::nullopt, {Kind::Thinking}, ""},
      {{text("")}, std::nullopt, {Kind::Assistant}, ""},
      {{text(""), text("")}, std::nullopt, {Kind::Assistant}, "\n"},
      {{text("only")}, std::nullopt, {Kind::Assistant}, "only"},
  };
  for (const auto& c : cases) {
    const auto events = events_from_record(record("assistant", c.content, c.usage));
    ASSERT_EQ(kinds(events), c.expected) << testing::PrintToString(c.text);
    if (c.expected == std::vector{Kind::Assistant}) {
      const auto& turn = std::get<Assistant>(events.back().kind);
      EXPECT_EQ(turn.text, c.text);
      EXPECT_EQ(turn.usage.has_value(), c.usage.has_value());
    }
  }
}

TEST(EventsFromRecord, UsageIsCopiedCountByCount) {
  const RawUsage usage{18446744073709551615u, 7, 40000, 900};
  const auto events = events_from_record(record("assistant", {}, usage));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::get<Assistant>(events[0].kind).usage, (TokenUsage{18446744073709551615u, 7, 40000, 900}));
}

TEST(EventsFromRecord, OnlyUserAndAssistantRecordsWithAMessageGiveEvents) {
  const std::optional<std::string> types[] = {"summary", "system", "progress", "User", "ASSISTANT", "user ", "",
                                              std::nullopt};
  for (const auto& type : types) {
    auto r = record("", {text("a")}, RawUsage{});
    r.type = type;
    EXPECT_TRUE(events_from_record(std::move(r)).empty()) << type.value_or("(none)");
  }
  for (const auto* type : {"user", "assistant"}) {
    auto r = record(type, {text("a")}, RawUsage{});
    r.message.reset();
    EXPECT_TRUE(events_from_record(std::move(r)).empty()) << type;
    r = record(type, {}, std::nullopt);
    r.message->content.reset();
    EXPECT_TRUE(events_from_record(std::move(r)).empty()) << type;
  }
}

TEST(EventsFromRecord, TheAssistantEventCarriesTheMessageId) {
  auto r = record("assistant", {text("a")});
  r.message->id = "msg_01";
  EXPECT_EQ(std::get<Assistant>(events_from_record(std::move(r)).back().kind).message_id, "msg_01");
  EXPECT_EQ(std::get<Assistant>(events_from_record(record("assistant", {text("a")})).back().kind).message_id,
            std::nullopt);
}

// The record's ids in every text form, and the fallbacks for ids that are absent or unreadable.
TEST(EventsFromRecord, IdsAreReadInTheFourFormsWithTheirFallbacks) {
  const struct {
    std::optional<std::string> text;
    bool readable;
  } cases[] = {
      {"1af7fc5e84554414 9ccd011d40f70b2a", false},
      {"1af7fc5e845544149ccd011d40f70b2a", true},
      {"1AF7FC5E-8455-4414-9CCD-011D40F70B2A", true},
      {"{1af7fc5e-8455-4414-9ccd-011d40f70b2a}", true},
      {"urn:uuid:1af7fc5e-8455-4414-9ccd-011d40f70b2a", true},
      {"URN:UUID:1af7fc5e-8455-4414-9ccd-011d40f70b2a", false},
      {" 1af7fc5e-8455-4414-9ccd-011d40f70b2a", false},
      {"1af7fc5e-8455-4414-9ccd-011d40f70b2a ", false},
      {"1af7fc5e-8455-4414-9ccd-011d40f70b2g", false},
      {"", false},
      {std::nullopt, false},
  };
  for (const auto& c : cases) {
    const std::string label = c.text.value_or("(none)");
    auto r = record("user", {text("a"), tool_result("t"), text("b")});
    r.sessionId = r.uuid = r.parentUuid = c.text;
    const auto events = events_from_record(std::move(r));
    ASSERT_EQ(events.size(), 3u) << label;
    if (c.readable) {
      expect_ids_and_parents(events, record_id, record_id, record_id);
      continue;
    }
    // One fresh session id and one fresh record id for the whole line; no parent.
    const Uuid session = events[0].session_id;
    const Uuid id = events[0].id;
    EXPECT_NE(session, id) << label;
    EXPECT_EQ(session.bytes[6] >> 4, 4) << label;
    EXPECT_EQ(id.bytes[6] >> 4, 4) << label;
    expect_ids_and_parents(events, session, id, std::nullopt);
  }
}

TEST(EventsFromRecord, LinesWithoutASessionIdBelongToDifferentSessions) {
  auto first = record("user", {text("a")});
  auto second = record("user", {text("a")});
  first.sessionId.reset();
  second.sessionId.reset();
  EXPECT_NE(events_from_record(std::move(first))[0].session_id, events_from_record(std::move(second))[0].session_id);
}

TEST(EventsFromRecord, AnUnreadableParentLeavesOnlyTheRecordEventsWithoutOne) {
  auto r = record("assistant", {thinking("t"), tool_use("a", "Bash"), text("x")});
  r.parentUuid = "not-a-uuid";
  const auto events = events_from_record(std::move(r));
  ASSERT_EQ(kinds(events), (std::vector{Kind::Thinking, Kind::ToolUse, Kind::Assistant}));
  expect_ids_and_parents(events, session_id, record_id, std::nullopt);
}

TEST(EventsFromRecord, AnUnreadableTimeIsTheCurrentTimeOncePerLine) {
  const std::optional<std::string> times[] = {
      "2025-09-14T10:00:00Z ", "2025-02-30T10:00:00Z", "2025-09-14T10:00:00", "yesterday", std::nullopt,
  };
  for (const auto& time : times) {
    auto r = record("user", {text("a"), tool_result("t"), text("b")});
    r.timestamp = time;
    const auto before = now_utc();
    const auto events = events_from_record(std::move(r));
    const auto after = now_utc();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_GE(events[0].timestamp, before) << time.value_or("(none)");
    EXPECT_LE(events[0].timestamp, after) << time.value_or("(none)");
    EXPECT_EQ(events[1].timestamp, events[0].timestamp);
    EXPECT_EQ(events[2].timestamp, events[0].timestamp);
  }
}

TEST(EventsFromRecord, TimesFarFromTheClockAreKeptAsWritten) {
  for (const std::string_view time :
       {"0000-01-01T00:00:00Z", "1600-01-01T00:00:00Z", "2262-04-12T00:00:00Z", "9999-12-31T23:59:59.999999999Z"}) {
    auto r = record("user", {text("a")});
    r.timestamp = std::string(time);
    EXPECT_EQ(events_from_record(std::move(r)).at(0).timestamp, parse_rfc3339(time)) << time;
  }
}

TEST(EventsFromRecord, TheSideChainMarkGoesOnEveryEvent) {
  auto r = record("assistant", {thinking("t"), tool_use("a", "Bash"), text("x")});
  r.isSidechain = true;
  for (const auto& e : events_from_record(std::move(r))) EXPECT_TRUE(e.is_sidechain);
}

TEST(EventsFromRecord, ToolRunDetailsGoToEveryToolResult) {
  auto r = record("user", {tool_result("a", "x", true), text("t"), tool_result("b", "y", false)});
  r.toolUseResult = RawToolUseResult{"out", "err", true, true, RawToolFile{"/tmp/f"}};
  const auto events = events_from_record(std::move(r));
  ASSERT_EQ(kinds(events), (std::vector{Kind::ToolResult, Kind::User, Kind::ToolResult}));
  const ToolUseResultInfo expected{"out", "err", "/tmp/f", true, true};
  const auto& a = std::get<ToolResult>(events[0].kind);
  const auto& b = std::get<ToolResult>(events[2].kind);
  EXPECT_EQ(a.tool_use_result, expected);
  EXPECT_EQ(b.tool_use_result, expected);
  EXPECT_TRUE(a.is_error);
  EXPECT_FALSE(b.is_error);
  EXPECT_EQ(a.content, "x");
  EXPECT_EQ(b.content, "y");

  const struct {
    std::optional<RawToolFile> file;
    std::optional<std::string> path;
  } files[] = {{std::nullopt, std::nullopt}, {RawToolFile{std::nullopt}, std::nullopt}, {RawToolFile{"p"}, "p"}};
  for (const auto& f : files) {
    auto with_file = record("user", {tool_result("a")});
    with_file.toolUseResult = RawToolUseResult{std::nullopt, std::nullopt, false, false, f.file};
    const auto info = std::get<ToolResult>(events_from_record(std::move(with_file))[0].kind).tool_use_result;
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, (ToolUseResultInfo{std::nullopt, std::nullopt, f.path, false, false}));
  }
}

TEST(EventsFromRecord, AssistantRecordsIgnoreToolRunDetails) {
  auto r = record("assistant", {text("a")});
  r.toolUseResult = RawToolUseResult{"out", "err", true, true, RawToolFile{"/tmp/f"}};
  EXPECT_EQ(kinds(events_from_record(std::move(r))), std::vector{Kind::Assistant});
}

TEST(ToolResultText, EachKindOfValue) {
  const struct {
    Json content;
    std::string_view expected;
  } cases[] = {
      {"plain \"text\"\n", "plain \"text\"\n"},
      {"", ""},
      {nullptr, "null"},
      {true, "true"},
      {false, "false"},
      {42, "42"},
      {-7, "-7"},
      {18446744073709551615u, "18446744073709551615"},
      {1.5, "1.5"},
      {Json::parse(R"({"z":1,"a":[true,null],"m":{"y":"\u00e9","b":"\n"}})"),
       R"({"a":[true,null],"m":{"b":"\n","y":"é"},"z":1})"},
      {Json::object(), "{}"},
      {Json::array(), ""},
      {Json::parse(R"(["one","two"])"), ""},
      {Json::parse(R"([{"type":"text","text":"a"},{"text":"b"}])"), "a\nb"},
      {Json::parse(R"([{"type":"image","text":"a"},7,{"text":1},{"type":"text"},["x"],{"text":""},{"text":"c"}])"),
       "a\n\nc"},
  };
  for (const auto& c : cases) EXPECT_EQ(tool_result_text(Json(c.content)), c.expected) << c.content.dump();
}

TEST(ToolResultText, TextThatIsNotUtf8DoesNotThrow) {
  EXPECT_EQ(tool_result_text(Json{{"k", "a\xff"}}), "{\"k\":\"a\xef\xbf\xbd\"}");
}

TEST(EventsFromRecord, AToolResultWithoutContentReadsAsNull) {
  const auto events = events_from_record(record("user", {tool_result("a", nullptr)}));
  EXPECT_EQ(std::get<ToolResult>(events[0].kind).content, "null");
}

// A whole line, as the agent writes it, through the reader.
TEST(ParseLine, ConvertsAnAgentLine) {
  constexpr std::string_view line =
      R"({"parentUuid":"fe5e1c67-53e7-4862-81ae-d0e013e3270b","isSidechain":true,"userType":"external",)"
      R"("sessionId":"5c0375b4-57a5-4f26-b12d-d022ee4e51b7","type":"assistant","message":{"id":"msg_01",)"
      R"("type":"message","role":"assistant","content":[{"type":"thinking","thinking":"hmm","signature":"s"},)"
      R"({"type":"text","text":"a"},{"type":"tool_use","id":"toolu_1","name":"Bash","input":{"z":1,"a":2}},)"
      R"({"type":"text","text":"b"}],"usage":{"input_tokens":3,"cache_creation_input_tokens":4,)"
      R"("cache_read_input_tokens":5,"output_tokens":6,"service_tier":"standard"}},"requestId":"req_1",)"
      R"("uuid":"1af7fc5e-8455-4414-9ccd-011d40f70b2a","timestamp":"2025-09-14T10:00:00.250+02:00"})";
  const auto events = parse_line(line);
  ASSERT_TRUE(events) << display_parse_error(events.error());
  ASSERT_EQ(kinds(*events), (std::vector{Kind::Thinking, Kind::ToolUse, Kind::Assistant}));
  expect_ids_and_parents(*events, session_id, record_id, parent_id);
  EXPECT_EQ(events->front().timestamp, written);
  EXPECT_TRUE(events->front().is_sidechain);
  EXPECT_EQ(std::get<ToolUse>((*events)[1].kind).input, (Json{{"a", 2}, {"z", 1}}));
  const auto& turn = std::get<Assistant>(events->back().kind);
  EXPECT_EQ(turn.text, "a\nb");
  EXPECT_EQ(turn.usage, (TokenUsage{3, 6, 5, 4}));
  EXPECT_EQ(turn.message_id, "msg_01");
}

TEST(ParseLine, APromptWrittenAsAPlainStringIsOneUserEvent) {
  const auto events = parse_line(R"({"type":"user","message":{"role":"user","content":"hello"}})");
  ASSERT_TRUE(events);
  ASSERT_EQ(kinds(*events), std::vector{Kind::User});
  EXPECT_EQ(std::get<User>(events->front().kind).text, "hello");
}

TEST(ParseLine, AFailedToolCallKeepsItsResult) {
  const auto events = parse_line(
      R"({"type":"user","toolUseResult":"Error: exit 1","message":{"content":[)"
      R"({"type":"tool_result","tool_use_id":"toolu_1","content":"Error: exit 1","is_error":true}]}})");
  ASSERT_TRUE(events);
  ASSERT_EQ(kinds(*events), std::vector{Kind::ToolResult});
  const auto& result = std::get<ToolResult>(events->front().kind);
  EXPECT_TRUE(result.is_error);
  EXPECT_FALSE(result.tool_use_result);
}

// A line that does not read gives no events at all, whichever part of it fails.
TEST(ParseLine, ALineThatDoesNotReadIsOneParseError) {
  const struct {
    std::string_view line, message;
  } cases[] = {
      {R"({"type":"user",})", "trailing comma at line 1 column 16"},
      {R"({"type":"summary","isSidechain":null})", "invalid type: null, expected a boolean at line 1 column 36"},
      {R"({"type":"user","message":{"content":[{"type":"text","text":"a"},{"type":"text"}]}})",
       "missing field `text` at line 1 column 80"},
      {"[]", "invalid length 0, expected struct RawRecord with 8 elements at line 1 column 2"},
      {R"({"message":{"usage":[1,]}})", "trailing comma at line 1 column 24"},
      {R"({"message":{"content":[{"type":"text","text":"a"},]}})", "trailing comma at line 1 column 51"},
  };
  for (const auto& c : cases) {
    const auto result = parse_line(c.line);
    ASSERT_FALSE(result) << c.line;
    const auto& invalid = std::get<InvalidField>(result.error());
    EXPECT_EQ(invalid.field, "line");
    EXPECT_EQ(invalid.message, read_raw_record(c.line).error()) << c.line;
    EXPECT_EQ(invalid.message, c.message) << c.line;
  }
}

TEST(ParseLine, OtherRecordsThatReadGiveNoEvents) {
  for (const auto line : {R"({"type":"summary","summary":"x","leafUuid":"1"})", R"({"type":"progress"})", "{}",
                          R"({"type":"User","message":{"content":"hi"}})", R"({"type":"user"})"}) {
    const auto result = parse_line(line);
    ASSERT_TRUE(result) << line;
    EXPECT_TRUE(result->empty()) << line;
  }
}

// The reader reuses the buffers of one line's ids and time for the next: nothing of one line may reach another.
TEST(ParseLine, EachLineHasItsOwnIdsAndTime) {
  const std::string full = fmt::format(
      R"({{"type":"user","uuid":"{}","parentUuid":"{}","sessionId":"{}","timestamp":"2025-09-14T10:00:00.250+02:00",)"
      R"("message":{{"content":"a"}}}})",
      record_text, parent_text, session_text);
  const auto first = parse_line(full);
  ASSERT_TRUE(first);
  expect_ids_and_parents(*first, session_id, record_id, parent_id);
  EXPECT_EQ(first->at(0).timestamp, written);
  const auto before = now_utc();
  const auto bare = parse_line(R"({"type":"user","uuid":"1AF7FC5E845544149CCD011D40F70B2A","message":{"content":"b"}})");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->at(0).id, record_id);
  EXPECT_NE(bare->at(0).session_id, session_id);
  EXPECT_EQ(bare->at(0).parent_id, std::nullopt);
  EXPECT_GE(bare->at(0).timestamp, before);
  const auto again = parse_line(full);
  ASSERT_TRUE(again);
  expect_ids_and_parents(*again, session_id, record_id, parent_id);
}

TEST(ParseLine, ReadingALineTwiceKeepsTheRecordIdsAndDrawsNewOnes) {
  constexpr std::string_view line =
      R"({"type":"user","uuid":"1af7fc5e-8455-4414-9ccd-011d40f70b2a","message":{"content":[)"
      R"({"type":"text","text":"a"},{"type":"tool_result","tool_use_id":"t"}]}})";
  const auto first = parse_line(line);
  const auto second = parse_line(line);
  ASSERT_TRUE(first && second);
  EXPECT_EQ((*first)[0].id, (*second)[0].id);
  EXPECT_NE((*first)[0].session_id, (*second)[0].session_id);
  EXPECT_NE((*first)[1].id, (*second)[1].id);
  EXPECT_EQ(std::get<ToolResult>((*first)[1].kind).content, "null");
}

}  // namespace
}  // namespace orvik::session_log
