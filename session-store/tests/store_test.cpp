#include "session_store/store.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>

namespace orvik::session_store {
namespace {

using namespace std::chrono_literals;
namespace sl = session_log;

const Uuid session_a = *Uuid::parse("aaaaaaaa-0000-4000-8000-000000000001");
const Uuid session_b = *Uuid::parse("bbbbbbbb-0000-4000-8000-000000000002");
const Uuid record = *Uuid::parse("cccccccc-0000-4000-8000-000000000003");
const Timestamp t0 = Timestamp{} + std::chrono::hours(24 * 365 * 55);

SessionEvent event(sl::EventKind kind, Timestamp at = t0, std::optional<Uuid> parent = record,
                   Uuid session = session_a) {
  return SessionEvent{std::move(kind), Uuid::new_v4(), session, at, parent, false};
}
SessionEvent tool_use(std::string id, std::string name, Timestamp at = t0, std::optional<Uuid> parent = record) {
  return event(sl::ToolUse{std::move(id), std::move(name), nullptr}, at, parent);
}
SessionEvent tool_result(std::string id, bool is_error, Timestamp at) {
  return event(sl::ToolResult{std::move(id), "", std::nullopt, is_error}, at);
}
SessionEvent assistant(std::optional<TokenUsage> usage, std::optional<std::string> message_id = std::nullopt) {
  return event(sl::Assistant{usage, "", std::move(message_id)});
}
SessionEvent user(Timestamp at = t0) { return event(sl::User{"hi"}, at); }
SessionEvent thinking() { return event(sl::Thinking{"hmm", std::nullopt}); }

const Session& only_session(const SessionStore& store) {
  EXPECT_EQ(store.session_count(), 1u);
  return *store.latest();
}

TEST(ElapsedMs, TruncatesTowardZeroAndFloorsAtZero) {
  const struct {
    std::chrono::nanoseconds delta;
    std::uint64_t ms;
  } cases[] = {
      {250'900'000ns, 250}, {2'999'600ns, 2}, {400'000ns, 0}, {0ns, 0}, {-1'500'000ns, 0}, {-1ns, 0}, {30s, 30000},
  };
  for (const auto& c : cases) EXPECT_EQ(elapsed_ms(t0, t0 + c.delta), c.ms) << c.delta.count();
  // The whole range of instants, end to end, without overflow.
  const Timestamp lowest{std::chrono::nanoseconds::min()}, highest{std::chrono::nanoseconds::max()};
  EXPECT_EQ(elapsed_ms(lowest, highest), std::numeric_limits<std::uint64_t>::max() / 1'000'000);
  EXPECT_EQ(elapsed_ms(highest, lowest), 0u);
  // From 0000-01-01 and from 1600-01-01 to 9999-12-31T23:59:59.999999999, beyond a nanosecond count's span.
  const Timestamp year_0 = Timestamp{} - 62167219200s, year_1600 = Timestamp{} - 11676096000s;
  const Timestamp last = Timestamp{} + 253402300799s + 999999999ns;
  EXPECT_EQ(elapsed_ms(year_0, last), 315569519999999u);
  EXPECT_EQ(elapsed_ms(year_1600, last), 265078396799999u);
  EXPECT_EQ(elapsed_ms(last, year_0), 0u);
}

std::string newest_first(const Session& s) {
  std::string names;
  s.pending.newest_first([&](const ToolCall& call) {
    EXPECT_EQ(&call, &s.pending.at(call.id));  // the session's own call, also in a copy
    names += call.name;
    return true;
  });
  return names;
}

TEST(PendingCalls, KeepStartOrderThroughEveryChange) {
  auto store = SessionStore::make();
  store.ingest(tool_use("a", "A", t0 + 3s));
  store.ingest(tool_use("b", "B", t0 + 1s));
  store.ingest(tool_use("c", "C", t0 + 2s));
  EXPECT_EQ(newest_first(only_session(store)), "ACB");
  store.ingest(tool_use("b", "D", t0 + 5s));  // takes b's place and its own start
  EXPECT_EQ(newest_first(only_session(store)), "DAC");
  store.ingest(tool_result("a", false, t0 + 6s));
  EXPECT_EQ(newest_first(only_session(store)), "DC");
  const Session copy = only_session(store);
  store.ingest(tool_result("c", false, t0 + 6s));
  EXPECT_EQ(newest_first(copy), "DC");
  EXPECT_EQ(newest_first(only_session(store)), "D");
  store.ingest(user(t0 + 7s));
  EXPECT_EQ(newest_first(only_session(store)), "");
  EXPECT_TRUE(only_session(store).pending.empty());
}

TEST(SessionStore, EmptyStoreHasNoLatest) {
  auto store = SessionStore::make();
  EXPECT_EQ(store.latest(), nullptr);
  EXPECT_EQ(store.session_count(), 0u);
}

TEST(SessionStore, LatestIsTheSessionFirstSeenLast) {
  auto store = SessionStore::make();
  store.ingest(event(sl::User{"a"}, t0, record, session_a));
  ASSERT_NE(store.latest(), nullptr);
  EXPECT_EQ(store.latest()->event_count, 1u);
  store.ingest(event(sl::User{"b"}, t0, record, session_b));
  for (int i = 0; i < 3; ++i) store.ingest(event(sl::User{"a"}, t0, record, session_a));
  EXPECT_EQ(store.session_count(), 2u);
  EXPECT_EQ(store.order, (std::vector<Uuid>{session_a, session_b}));
  EXPECT_EQ(store.latest(), &store.sessions.at(session_b));
  EXPECT_EQ(store.sessions.at(session_a).event_count, 4u);
}

TEST(Session, ToolResultFinishesItsCallWithItsDuration) {
  for (bool is_error : {false, true}) {
    auto store = SessionStore::make();
    store.ingest(tool_use("t1", "Bash"));
    store.ingest(tool_result("t1", is_error, t0 + 250'900us));
    const auto& s = only_session(store);
    EXPECT_TRUE(s.pending.empty());
    ASSERT_EQ(s.tool_calls.size(), 1u);
    EXPECT_EQ(s.tool_calls[0].id, "t1");
    EXPECT_EQ(s.tool_calls[0].name, "Bash");
    EXPECT_EQ(s.tool_calls[0].parent_id, record);
    EXPECT_EQ(s.tool_calls[0].status, is_error ? ToolStatus{Error{250}} : ToolStatus{Ok{250}});
  }
}

TEST(Session, ResultBeforeItsUseGivesZeroAndUnknownResultOnlyCounts) {
  auto store = SessionStore::make();
  store.ingest(tool_use("t1", "Read", t0));
  store.ingest(tool_result("t1", false, t0 - 5s));
  store.ingest(tool_result("nope", true, t0));
  const auto& s = only_session(store);
  EXPECT_EQ(s.event_count, 3u);
  ASSERT_EQ(s.tool_calls.size(), 1u);
  EXPECT_EQ(s.tool_calls[0].status, ToolStatus{Ok{0}});
  EXPECT_EQ(s.flow.size(), 1u);
}

TEST(Session, SecondUseOfAPendingIdDisplacesTheFirst) {
  auto store = SessionStore::make();
  const auto other_parent = Uuid::new_v4();
  store.ingest(tool_use("t1", "Read", t0));
  store.ingest(tool_use("t1", "Write", t0 + 1s, other_parent));
  const auto& s = only_session(store);
  ASSERT_EQ(s.pending.size(), 1u);
  const auto& call = s.pending.at("t1");
  EXPECT_EQ(call.name, "Write");
  EXPECT_EQ(call.parent_id, other_parent);
  EXPECT_EQ(call.status, ToolStatus{Running{t0 + 1s}});
  EXPECT_EQ(s.flow, (std::vector<Step>{step::Tools{{"Read", "Write"}}}));
  store.ingest(tool_result("t1", false, t0 + 3s));
  ASSERT_EQ(s.tool_calls.size(), 1u);
  EXPECT_EQ(s.tool_calls[0].status, ToolStatus{Ok{2000}});
  // The same id used again after it finished starts a new call.
  store.ingest(tool_use("t1", "Read", t0 + 4s));
  store.ingest(tool_result("t1", true, t0 + 5s));
  EXPECT_EQ(s.tool_calls.size(), 2u);
}

TEST(Session, ToolStepsMergeOnlyWhenTheUseHasAParent) {
  const struct {
    const char* name;
    std::vector<SessionEvent> events;
    std::vector<Step> flow;
  } cases[] = {
      {"two with parents", {tool_use("a", "Read"), tool_use("b", "Grep", t0, Uuid::new_v4())},
       {step::Tools{{"Read", "Grep"}}}},
      {"same tool twice", {tool_use("a", "Bash"), tool_use("b", "Bash")}, {step::Tools{{"Bash", "Bash"}}}},
      {"a result does not split", {tool_use("a", "Read"), tool_result("a", false, t0), tool_use("b", "Grep")},
       {step::Tools{{"Read", "Grep"}}}},
      {"second without parent", {tool_use("a", "Read"), tool_use("b", "Grep", t0, std::nullopt)},
       {step::Tools{{"Read"}}, step::Tools{{"Grep"}}}},
      {"thinking splits", {tool_use("a", "Read"), thinking(), tool_use("b", "Grep")},
       {step::Tools{{"Read"}}, step::Thinking{}, step::Tools{{"Grep"}}}},
      {"assistant splits", {tool_use("a", "Read"), assistant(std::nullopt), tool_use("b", "Grep")},
       {step::Tools{{"Read"}}, step::Assistant{}, step::Tools{{"Grep"}}}},
      {"user splits", {tool_use("a", "Read"), user(), tool_use("b", "Grep")},
       {step::Tools{{"Read"}}, step::User{}, step::Tools{{"Grep"}}}},
      {"repeats of one kind collapse",
       {user(), user(), thinking(), thinking(), assistant(std::nullopt), assistant(TokenUsage{1, 2, 3, 4}), user()},
       {step::User{}, step::Thinking{}, step::Assistant{}, step::User{}}},
  };
  for (const auto& c : cases) {
    auto store = SessionStore::make();
    for (const auto& e : c.events) store.ingest(e);
    EXPECT_EQ(store.latest()->flow, c.flow) << c.name;
    EXPECT_EQ(store.latest()->event_count, c.events.size()) << c.name;
  }
}

TEST(Session, UserClosesEveryPendingCallAsOk) {
  auto store = SessionStore::make();
  store.ingest(tool_use("a", "Read", t0));
  store.ingest(tool_use("b", "Grep", t0 + 1s));
  store.ingest(tool_use("c", "Bash", t0 + 2s));
  EXPECT_EQ(store.latest()->running_tools().size(), 3u);
  store.ingest(user(t0 + 3s));
  const auto& s = only_session(store);
  EXPECT_TRUE(s.pending.empty());
  EXPECT_TRUE(s.running_tools().empty());
  EXPECT_TRUE(s.awaiting_reply);
  ASSERT_EQ(s.tool_calls.size(), 3u);
  std::map<std::string, ToolStatus> statuses;
  for (const auto& call : s.tool_calls) statuses.emplace(call.id, call.status);
  EXPECT_EQ(statuses.at("a"), ToolStatus{Ok{3000}});
  EXPECT_EQ(statuses.at("b"), ToolStatus{Ok{2000}});
  EXPECT_EQ(statuses.at("c"), ToolStatus{Ok{1000}});
}

TEST(Session, AssistantUsageAndAwaitingReply) {
  auto store = SessionStore::make();
  store.ingest(user());
  EXPECT_TRUE(store.latest()->awaiting_reply);
  store.ingest(assistant(TokenUsage{10, 20, 30, 40}));
  store.ingest(assistant(std::nullopt));
  const auto& s = only_session(store);
  EXPECT_FALSE(s.awaiting_reply);
  EXPECT_EQ(s.last_usage, (TokenUsage{10, 20, 30, 40}));
  EXPECT_EQ(s.totals, (TokenUsage{10, 20, 30, 40}));
  store.ingest(assistant(TokenUsage{1, 1, 1, 1}));
  EXPECT_EQ(s.totals, (TokenUsage{11, 21, 31, 41}));
  EXPECT_EQ(s.last_usage, (TokenUsage{1, 1, 1, 1}));
  EXPECT_EQ(s.flow, (std::vector<Step>{step::User{}, step::Assistant{}}));
}

TEST(Session, TotalsWrapAround) {
  constexpr auto max = std::numeric_limits<std::uint64_t>::max();
  auto store = SessionStore::make();
  store.ingest(assistant(TokenUsage{max, max - 1, 0, 5}));
  store.ingest(assistant(TokenUsage{2, 2, 0, 0}));
  EXPECT_EQ(store.latest()->totals, (TokenUsage{1, 0, 0, 5}));
}

TEST(Session, OneResponseOverSeveralLinesCountsOnceWithItsLastUsage) {
  auto store = SessionStore::make();
  store.ingest(assistant(TokenUsage{100, 1, 1000, 50}, "msg_1"));
  store.ingest(assistant(TokenUsage{100, 5, 1000, 50}, "msg_1"));
  store.ingest(assistant(TokenUsage{100, 9, 1000, 50}, "msg_1"));
  EXPECT_EQ(store.latest()->totals, (TokenUsage{100, 9, 1000, 50}));
  store.ingest(assistant(TokenUsage{7, 3, 0, 0}, "msg_2"));
  store.ingest(assistant(TokenUsage{1, 1, 1, 1}));
  const auto& s = only_session(store);
  EXPECT_EQ(s.totals, (TokenUsage{108, 13, 1001, 51}));
  EXPECT_EQ(s.last_usage, (TokenUsage{1, 1, 1, 1}));
}

TEST(Session, SidechainEventsCountLikeAnyOther) {
  auto store = SessionStore::make();
  auto e = user();
  e.is_sidechain = true;
  store.ingest(e);
  EXPECT_EQ(only_session(store).event_count, 1u);
}

}  // namespace
}  // namespace orvik::session_store
