#include "base/channel.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace orvik::base {
namespace {

TEST(Channel, SendFailsOnceTheReceiverIsGone) {
  auto [tx, rx] = channel<int>();
  EXPECT_TRUE(tx.send(1));
  EXPECT_EQ(rx.try_recv(), 1);
  EXPECT_EQ(rx.try_recv(), std::nullopt);
  { auto gone = std::move(rx); }
  EXPECT_EQ(tx.send(2).error(), 2);
}

TEST(Channel, EmptyAndClosedLookAlikeToTryRecvButNotToRecvTimeout) {
  auto [tx, rx] = channel<int>();
  EXPECT_EQ(rx.try_recv(), std::nullopt);
  EXPECT_TRUE(std::holds_alternative<Timeout>(rx.recv_timeout(std::chrono::milliseconds(1))));
  tx.send(7);
  { auto gone = std::move(tx); }
  auto first = rx.recv_timeout(std::chrono::milliseconds(1));
  ASSERT_TRUE(std::holds_alternative<int>(first));  // what was sent before the close still arrives
  EXPECT_EQ(std::get<int>(first), 7);
  EXPECT_EQ(rx.try_recv(), std::nullopt);
  EXPECT_TRUE(std::holds_alternative<Disconnected>(rx.recv_timeout(std::chrono::milliseconds(1))));
}

TEST(Channel, CarriesValuesInOrderAcrossThreads) {
  auto [tx, rx] = channel<int>();
  std::thread sender([tx = std::move(tx)]() mutable {
    for (int i = 0; i < 10000; ++i) tx.send(i);
  });
  int expected = 0;
  while (expected < 10000) {
    auto got = rx.recv_timeout(std::chrono::seconds(5));
    ASSERT_TRUE(std::holds_alternative<int>(got));
    ASSERT_EQ(std::get<int>(got), expected++);
  }
  sender.join();
  EXPECT_TRUE(std::holds_alternative<Disconnected>(rx.recv_timeout(std::chrono::milliseconds(1))));
}

// Values that own memory, across many segments: whatever is still queued when an end goes is freed once.
TEST(Channel, FreesWhatIsLeftWhicheverEndGoesFirst) {
  const auto value = [](int i) { return std::string(40, 'a') + std::to_string(i); };
  for (const bool receiver_first : {true, false}) {
    auto [tx, rx] = channel<std::string>();
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(tx.send(value(i)));
    for (int i = 0; i < 700; ++i) ASSERT_EQ(rx.try_recv(), value(i));
    for (int i = 2000; i < 2600; ++i) ASSERT_TRUE(tx.send(value(i)));  // into segments handed back
    for (int i = 700; i < 1500; ++i) ASSERT_EQ(rx.try_recv(), value(i));
    if (receiver_first) {
      { auto gone = std::move(rx); }
      EXPECT_EQ(tx.send(value(-1)).error(), value(-1));
    } else {
      { auto gone = std::move(tx); }
      EXPECT_EQ(std::get<std::string>(rx.recv_timeout(std::chrono::milliseconds(1))), value(1500));
    }
  }
}

// A receiver asleep in recv_timeout is woken by a value and by the sender's going, not by its timeout.
TEST(Channel, RecvTimeoutWakesForAValueAndForTheSendersEnd) {
  auto [tx, rx] = channel<int>();
  std::thread sender([tx = std::move(tx)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    tx.send(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  const auto first = rx.recv_timeout(std::chrono::minutes(5));
  ASSERT_TRUE(std::holds_alternative<int>(first));
  EXPECT_EQ(std::get<int>(first), 1);
  EXPECT_TRUE(std::holds_alternative<Disconnected>(rx.recv_timeout(std::chrono::minutes(5))));
  sender.join();
}

}  // namespace
}  // namespace orvik::base
