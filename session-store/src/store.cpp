#include "session_store/store.hpp"

#include <chrono>
#include <limits>

#include "base/overloaded.hpp"

namespace orvik::session_store {
namespace {

using base::overloaded;

TokenUsage plus(TokenUsage a, TokenUsage b) {
  return {a.input + b.input, a.output + b.output, a.cache_read + b.cache_read, a.cache_creation + b.cache_creation};
}

TokenUsage minus(TokenUsage a, TokenUsage b) {
  return {a.input - b.input, a.output - b.output, a.cache_read - b.cache_read, a.cache_creation - b.cache_creation};
}

}  // namespace

std::uint64_t elapsed_ms(Timestamp start, Timestamp end) {
  if (end <= start) return 0;
  // Unsigned and as wide as the count, so instants at the two ends of the range cannot overflow the difference.
  __extension__ using Wide = unsigned __int128;
  const Wide ms = (static_cast<Wide>(end.time_since_epoch().count()) -
                   static_cast<Wide>(start.time_since_epoch().count())) / 1'000'000;
  constexpr auto most = std::numeric_limits<std::uint64_t>::max();
  return ms > most ? most : static_cast<std::uint64_t>(ms);
}

PendingCalls::PendingCalls(const PendingCalls& other) : calls_(other.calls_) {
  for (const auto& [id, call] : calls_) by_start_.emplace(std::get<Running>(call.status).started_at, &call);
}

PendingCalls& PendingCalls::operator=(const PendingCalls& other) {
  if (this != &other) *this = PendingCalls(other);
  return *this;
}

void PendingCalls::insert_or_assign(ToolCall call) {
  const Timestamp start = std::get<Running>(call.status).started_at;
  auto [entry, fresh] = calls_.try_emplace(call.id);
  if (!fresh) by_start_.erase({std::get<Running>(entry->second.status).started_at, &entry->second});
  entry->second = std::move(call);
  by_start_.emplace(start, &entry->second);
}

std::optional<ToolCall> PendingCalls::take(const std::string& id) {
  auto found = calls_.find(id);
  if (found == calls_.end()) return std::nullopt;
  by_start_.erase({std::get<Running>(found->second.status).started_at, &found->second});
  ToolCall call = std::move(found->second);
  calls_.erase(found);
  return call;
}

std::vector<ToolCall> PendingCalls::take_all() {
  std::vector<ToolCall> out;
  out.reserve(calls_.size());
  for (auto& [id, call] : calls_) out.push_back(std::move(call));
  calls_.clear();
  by_start_.clear();
  return out;
}

void Session::apply(const SessionEvent& event) {
  ++event_count;
  std::visit(
      overloaded{
          [&](const session_log::ToolUse& use) {
            pending.insert_or_assign(ToolCall{use.tool_use_id, use.name, Running{event.timestamp}, event.parent_id});
            auto* tools = flow.empty() ? nullptr : std::get_if<step::Tools>(&flow.back());
            if (tools && event.parent_id) {
              tools->names.push_back(use.name);
            } else {
              flow.emplace_back(step::Tools{{use.name}});
            }
          },
          [&](const session_log::ToolResult& result) {
            auto taken = pending.take(result.tool_use_id);
            if (!taken) return;
            ToolCall call = std::move(*taken);
            const auto ms = elapsed_ms(std::get<Running>(call.status).started_at, event.timestamp);
            call.status = result.is_error ? ToolStatus{Error{ms}} : ToolStatus{Ok{ms}};
            tool_calls.push_back(std::move(call));
          },
          [&](const session_log::Assistant& assistant) {
            if (assistant.usage) {
              if (assistant.message_id) {
                auto [entry, fresh] = usage_by_message.try_emplace(*assistant.message_id, *assistant.usage);
                if (!fresh) {
                  totals = minus(totals, entry->second);
                  entry->second = *assistant.usage;
                }
              }
              totals = plus(totals, *assistant.usage);
              last_usage = assistant.usage;
            }
            awaiting_reply = false;
            push_step(step::Assistant{});
          },
          [&](const session_log::User&) {
            for (ToolCall& call : pending.take_all()) {
              call.status = Ok{elapsed_ms(std::get<Running>(call.status).started_at, event.timestamp)};
              tool_calls.push_back(std::move(call));
            }
            awaiting_reply = true;
            push_step(step::User{});
          },
          [&](const session_log::Thinking&) { push_step(step::Thinking{}); },
          [&](const session_log::Heartbeat&) {},
      },
      event.kind);
}

void Session::push_step(Step step) {
  if (!flow.empty() && flow.back() == step) return;
  flow.push_back(std::move(step));
}

std::vector<const ToolCall*> Session::running_tools() const {
  std::vector<const ToolCall*> out;
  out.reserve(pending.size());
  for (const auto& [key, call] : pending) out.push_back(&call);
  return out;
}

void SessionStore::ingest(const SessionEvent& event) {
  auto [entry, fresh] = sessions.try_emplace(event.session_id);
  if (fresh) order.push_back(event.session_id);
  entry->second.apply(event);
}

const Session* SessionStore::latest() const {
  if (order.empty()) return nullptr;
  return &sessions.at(order.back());
}

}  // namespace orvik::session_store
