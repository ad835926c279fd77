#pragma once
// A first-in first-out queue of at most N values stored in place, for the
// per-mote state of a component (no allocation, value-initialised empty).

#include <array>
#include <cstdint>

template <typename T, uint8_t N>
class BoundedQueue {
  static_assert(N > 0);

 public:
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == N; }
  uint8_t size() const { return count_; }
  static constexpr uint8_t capacity() { return N; }

  // Appends a copy of `value`; false (and nothing stored) when full.
  bool push(const T& value) {
    if (full()) return false;
    items_[(head_ + count_) % N] = value;
    ++count_;
    return true;
  }
  // The oldest value; the queue must not be empty.
  const T& front() const { return items_[head_]; }
  // Drops the oldest value; the queue must not be empty.
  void pop() {
    head_ = static_cast<uint8_t>((head_ + 1) % N);
    --count_;
  }

 private:
  std::array<T, N> items_{};
  uint8_t head_ = 0;
  uint8_t count_ = 0;
};
