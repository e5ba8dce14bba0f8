// Log lines through parse_line into the store: each model response's usage counts once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "session_log/parse_line.hpp"
#include "session_store/store.hpp"

namespace orvik::session_store {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr std::string_view session = "5c0375b4-57a5-4f26-b12d-d022ee4e51b7";

// One line of an assistant response, as the agent writes one for each content block.
std::string response_line(std::string_view message_id, std::string_view block, TokenUsage u) {
  Json message = {{"content", Json::array({Json::parse(block)})},
                  {"usage",
                   {{"input_tokens", u.input},
                    {"output_tokens", u.output},
                    {"cache_read_input_tokens", u.cache_read},
                    {"cache_creation_input_tokens", u.cache_creation}}}};
  if (!message_id.empty()) message["id"] = message_id;
  return Json{{"type", "assistant"}, {"sessionId", session}, {"message", message}}.dump();
}

TokenUsage plus(TokenUsage a, TokenUsage b) {
  return {a.input + b.input, a.output + b.output, a.cache_read + b.cache_read, a.cache_creation + b.cache_creation};
}

void ingest_line(SessionStore& store, const std::string& line) {
  auto events = session_log::parse_line(line);
  ASSERT_TRUE(events) << session_log::display_parse_error(events.error());
  for (const auto& e : *events) store.ingest(e);
}

TEST(LineUsage, AResponseOverSeveralLinesCountsOnceWithTheLastCounts) {
  auto store = SessionStore::make();
  ingest_line(store, response_line("msg_1", R"({"type":"thinking","thinking":"t"})", {10, 1, 20000, 300}));
  ingest_line(store, response_line("msg_1", R"({"type":"text","text":"a"})", {10, 2, 20000, 300}));
  ingest_line(store, response_line("msg_1", R"({"type":"tool_use","id":"x","name":"Bash","input":{}})",
                                   {10, 40, 20000, 300}));
  ASSERT_EQ(store.session_count(), 1u);
  EXPECT_EQ(store.latest()->totals, (TokenUsage{10, 40, 20000, 300}));
  EXPECT_EQ(store.latest()->last_usage, (TokenUsage{10, 40, 20000, 300}));

  ingest_line(store, response_line("msg_2", R"({"type":"text","text":"b"})", {5, 7, 1000, 0}));
  EXPECT_EQ(store.latest()->totals, (TokenUsage{15, 47, 21000, 300}));
  // Without a message id every line adds.
  ingest_line(store, response_line("", R"({"type":"text","text":"c"})", {1, 1, 1, 1}));
  ingest_line(store, response_line("", R"({"type":"text","text":"c"})", {1, 1, 1, 1}));
  EXPECT_EQ(store.latest()->totals, (TokenUsage{17, 49, 21002, 302}));
  EXPECT_EQ(store.latest()->last_usage, (TokenUsage{1, 1, 1, 1}));
}

TokenUsage usage_of(const Json& u) {
  const auto count = [&](const char* key) { return u.value(key, std::uint64_t{0}); };
  return {count("input_tokens"), count("output_tokens"), count("cache_read_input_tokens"),
          count("cache_creation_input_tokens")};
}

// Over the real logs: every session's totals are the sum, over its distinct message ids, of the
// last usage given for each id, worked out here from the plain JSON of the lines.
TEST(LineUsage, RealLogsCountEachResponseOnce) {
  const fs::path dir = fs::path(SHARED_DIR) / "corpus" / "real";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no real logs at " << dir;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".jsonl") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  auto store = SessionStore::make();
  std::map<Uuid, std::map<std::string, TokenUsage>> last_by_message;
  std::map<Uuid, TokenUsage> without_id;
  std::size_t responses = 0, lines = 0;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
      auto events = session_log::parse_line(line);
      ASSERT_TRUE(events) << file << ": " << session_log::display_parse_error(events.error());
      for (const auto& e : *events) store.ingest(e);
      ++lines;

      const Json record = Json::parse(line);
      if (record.value("type", "") != "assistant" || !record.contains("message")) continue;
      const Json& message = record["message"];
      if (!message.contains("usage")) continue;
      const auto id = Uuid::parse(record.value("sessionId", ""));
      ASSERT_TRUE(id) << "every real line names its session";
      const TokenUsage usage = usage_of(message["usage"]);
      if (message.contains("id")) {
        last_by_message[*id].insert_or_assign(message["id"].get<std::string>(), usage);
        ++responses;
      } else {
        without_id[*id] = plus(without_id[*id], usage);
      }
    }
  }
  EXPECT_GT(lines, 3000u);
  EXPECT_GT(responses, 500u);
  ASSERT_FALSE(last_by_message.empty());
  for (const auto& [id, by_message] : last_by_message) {
    TokenUsage expected = without_id[id];
    for (const auto& [message, u] : by_message) expected = plus(expected, u);
    ASSERT_TRUE(store.sessions.contains(id)) << id.to_string();
    EXPECT_EQ(store.sessions.at(id).totals, expected) << id.to_string();
  }
}

}  // namespace
}  // namespace orvik::session_store
