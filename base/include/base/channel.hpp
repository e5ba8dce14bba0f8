#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <variant>

namespace orvik::base {

// An unbounded channel with one sending end and one receiving end. Dropping either end closes it.
namespace detail {

// Values travel in segments of slots: the sender fills the last segment, the receiver empties the
// first, and neither takes a lock. An emptied segment is handed back to the sender for reuse, so a
// steady stream allocates nothing and keeps writing to memory that is already mapped.
template <class T>
struct Segment {
  static constexpr std::size_t capacity = std::max<std::size_t>(8, 8192 / sizeof(T));

  Segment* next = nullptr;
  alignas(T) unsigned char storage[capacity * sizeof(T)];

  void* raw(std::size_t i) { return storage + i * sizeof(T); }
  T* slot(std::size_t i) { return std::launder(static_cast<T*>(raw(i))); }
};

template <class T>
struct ChannelState {
  using Seg = Segment<T>;

  ChannelState() : tail(new Seg), head(tail) {}
  ChannelState(const ChannelState&) = delete;
  ChannelState& operator=(const ChannelState&) = delete;
  // Both ends are gone: whatever is still queued goes with the channel.
  ~ChannelState() {
    while (pop()) {
    }
    delete head;
    delete spare.load(std::memory_order_acquire);
  }

  // Sender only. Every value pushed is published by `sent`; the receiver reads no further.
  void push(T&& value) {
    if (tail_index == Seg::capacity) {
      Seg* fresh = spare.exchange(nullptr, std::memory_order_acquire);
      if (fresh == nullptr) {
        fresh = new Seg;
      } else {
        fresh->next = nullptr;
      }
      tail->next = fresh;
      tail = fresh;
      tail_index = 0;
    }
    ::new (tail->raw(tail_index++)) T(std::move(value));
    // A full barrier, so that a receiver about to wait sees the value or is seen waiting.
    sent.fetch_add(1, std::memory_order_seq_cst);
    if (waiting.load(std::memory_order_seq_cst)) wake();
  }

  // Receiver only.
  std::optional<T> pop() {
    if (received == known_sent) {
      known_sent = sent.load(std::memory_order_acquire);
      if (received == known_sent) return std::nullopt;
    }
    if (head_index == Seg::capacity) {
      Seg* done = head;
      head = head->next;
      head_index = 0;
      delete spare.exchange(done, std::memory_order_acq_rel);
    }
    T* slot = head->slot(head_index++);
    std::optional<T> value(std::move(*slot));
    slot->~T();
    ++received;
    return value;
  }

  bool has_value() { return received != sent.load(std::memory_order_seq_cst); }

  void wake() {
    { std::lock_guard lock(mutex); }
    ready.notify_all();
  }

  // Sender side.
  alignas(64) Seg* tail;
  std::size_t tail_index = 0;
  // Receiver side.
  alignas(64) Seg* head;
  std::size_t head_index = 0;
  std::uint64_t received = 0;
  std::uint64_t known_sent = 0;
  // Shared.
  alignas(64) std::atomic<std::uint64_t> sent{0};
  std::atomic<Seg*> spare{nullptr};
  std::atomic<bool> sender_alive{true};
  std::atomic<bool> receiver_alive{true};
  // Only a receiver in recv_timeout sleeps; the sender takes the mutex only to wake it.
  std::atomic<bool> waiting{false};
  std::mutex mutex;
  std::condition_variable ready;
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

  // Never blocks. True once sent; once the receiving end is gone the value comes back as the error.
  std::expected<void, T> send(T value) {
    if (!state_ || !state_->receiver_alive.load(std::memory_order_acquire)) return std::unexpected(std::move(value));
    state_->push(std::move(value));
    return {};
  }

 private:
  void close() {
    if (!state_) return;
    state_->sender_alive.store(false, std::memory_order_seq_cst);
    state_->wake();
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
    return state_->pop();
  }

  // Waits up to `timeout` for a value; tells a time-out from a channel whose sender is gone.
  std::variant<T, Timeout, Disconnected> recv_timeout(std::chrono::nanoseconds timeout) {
    if (!state_) return Disconnected{};
    auto& s = *state_;
    if (auto value = s.pop()) return std::move(*value);
    if (s.sender_alive.load(std::memory_order_acquire)) {
      std::unique_lock lock(s.mutex);
      s.waiting.store(true, std::memory_order_seq_cst);
      s.ready.wait_for(lock, timeout,
                       [&] { return s.has_value() || !s.sender_alive.load(std::memory_order_seq_cst); });
      s.waiting.store(false, std::memory_order_relaxed);
    }
    // Read before the last look: a sender marks itself gone only after its last value is published.
    const bool gone = !s.sender_alive.load(std::memory_order_acquire);
    if (auto value = s.pop()) return std::move(*value);
    if (gone) return Disconnected{};
    return Timeout{};
  }

 private:
  // What is queued is freed here, on the receiving thread, like every value it takes.
  void close() {
    if (!state_) return;
    state_->receiver_alive.store(false, std::memory_order_release);
    while (state_->pop()) {
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

}  // namespace orvik::base
