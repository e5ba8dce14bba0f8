#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "session_log/event.hpp"
#include "session_store/store.hpp"

namespace orvik::ui {

// The most events the dashboard holds.
inline constexpr std::size_t MAX_EVENTS = 500;
// How long one loop turn waits for terminal input.
inline constexpr std::chrono::milliseconds POLL_TIMEOUT{50};

// The dashboard's whole state.
struct App {
  std::deque<session_log::SessionEvent> events;  // oldest first, at most MAX_EVENTS, never a Heartbeat
  session_store::SessionStore store = session_store::SessionStore::make();
  std::uint64_t tick = 0;  // loop turns so far; the first frame is drawn with 1
  bool quit = false;
};

// Applies `event` to the store, then holds it, letting the oldest held event go once MAX_EVENTS are held.
// What a dropped event did to its session stays in the store.
void push_event(App& app, session_log::SessionEvent event);

}  // namespace orvik::ui
