#include "ui/app.hpp"

#include <gtest/gtest.h>

namespace orvik::ui {
namespace {

using namespace session_log;

SessionEvent user_event(Uuid session, std::string text) {
  return SessionEvent{User{std::move(text)}, Uuid::new_v4(), session, now_utc(), std::nullopt, false};
}

TEST(PushEvent, HoldsTheNewestFiveHundredButTheStoreForgetsNothing) {
  App app;
  const Uuid first_session = Uuid::new_v4();
  const Uuid second_session = Uuid::new_v4();
  push_event(app, user_event(first_session, "0"));
  for (int i = 1; i < 500; ++i) push_event(app, user_event(second_session, std::to_string(i)));
  ASSERT_EQ(app.events.size(), MAX_EVENTS);

  push_event(app, user_event(second_session, "500"));  // the 501st: the only event of the first session leaves
  ASSERT_EQ(app.events.size(), MAX_EVENTS);
  EXPECT_EQ(std::get<User>(app.events.front().kind).text, "1");
  EXPECT_EQ(std::get<User>(app.events.back().kind).text, "500");
  EXPECT_EQ(app.store.session_count(), 2u);
  EXPECT_EQ(app.store.sessions.at(first_session).event_count, 1u);
  EXPECT_EQ(app.store.sessions.at(second_session).event_count, 500u);
}

TEST(PushEvent, HeldEventsStayOldestFirstThroughManyTurnsOfTheSlots) {
  App app;
  const Uuid session = Uuid::new_v4();
  for (int i = 0; i < 1234; ++i) {
    push_event(app, user_event(session, std::to_string(i)));
    const std::size_t held = std::min<std::size_t>(static_cast<std::size_t>(i) + 1, MAX_EVENTS);
    ASSERT_EQ(app.events.size(), held);
    for (std::size_t k = 0; k < held; ++k)
      ASSERT_EQ(std::get<User>(app.events[k].kind).text, std::to_string(i + 1 - static_cast<int>(held) + static_cast<int>(k)))
          << i << " " << k;
  }
}

}  // namespace
}  // namespace orvik::ui
