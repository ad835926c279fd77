#pragma once
// A value shared between the simulation thread and the control threads where
// only the value itself matters (no ordering with other data). Loads and
// stores are relaxed atomics: plain moves on x86, but free of data races.

#include <atomic>

template <typename T>
class RelaxedAtomic {
 public:
  constexpr RelaxedAtomic(T v = T{}) noexcept : value_(v) {}
  RelaxedAtomic(const RelaxedAtomic&) = delete;
  RelaxedAtomic& operator=(const RelaxedAtomic&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }
  RelaxedAtomic& operator=(T v) noexcept {
    value_.store(v, std::memory_order_relaxed);
    return *this;
  }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};
