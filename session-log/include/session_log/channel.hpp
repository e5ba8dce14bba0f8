#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

namespace orvik::session_log {

// An unbounded channel with one sending end and one receiving end. Dropping either end closes it.
namespace detail {
template <class T>
struct ChannelState {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<T> queue;
  bool sender_alive = true;
  bool receiver_alive = true;
};
}  // namespace detail

template <class T>
class Sender {
 public:
  explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}
  Sender(Sender&&) noexcept = default;
  Sender& operator=(Sender&& other) noexcept {
    close();
    state_ = std::move(other.state_);
    return *this;
  }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  ~Sender() { close(); }

  // Never blocks. Once the receiving end is gone the value comes back.
  std::optional<T> send(T value) {
    if (!state_) return value;
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return value;
      state_->queue.push_back(std::move(value));
    }
    state_->ready.notify_one();
    return std::nullopt;
  }

 private:
  void close() {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      state_->sender_alive = false;
    }
    state_->ready.notify_all();
    state_.reset();
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
};

struct Timeout {};
struct Disconnected {};

template <class T>
class Receiver {
 public:
  explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}
  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&& other) noexcept {
    close();
    state_ = std::move(other.state_);
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { close(); }

  // Takes one value without waiting; an empty channel and a closed one both give none.
  std::optional<T> try_recv() {
    if (!state_) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    if (state_->queue.empty()) return std::nullopt;
    T value = std::move(state_->queue.front());
    state_->queue.pop_front();
    return value;
  }

  // Waits up to `timeout` for a value; tells a time-out from a channel whose sender is gone.
  std::variant<T, Timeout, Disconnected> recv_timeout(std::chrono::nanoseconds timeout) {
    if (!state_) return Disconnected{};
    std::unique_lock lock(state_->mutex);
    const bool got = state_->ready.wait_for(
        lock, timeout, [&] { return !state_->queue.empty() || !state_->sender_alive; });
    if (!state_->queue.empty()) {
      T value = std::move(state_->queue.front());
      state_->queue.pop_front();
      return value;
    }
    if (got && !state_->sender_alive) return Disconnected{};
    return Timeout{};
  }

 private:
  void close() {
    if (!state_) return;
    std::deque<T> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      dropped.swap(state_->queue);
    }
    state_.reset();
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> channel() {
  auto state = std::make_shared<detail::ChannelState<T>>();
  return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace orvik::session_log
