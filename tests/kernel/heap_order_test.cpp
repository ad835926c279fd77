// The order in which the heap hands out events that share a time decides
// the radio's behaviour, so any change to the sift code must keep it exactly.
// These runs mix millions of inserts and pops with heavy ties and compare a
// hash of the pop order with the hash the original sift code gave.

#include <gtest/gtest.h>

#include <cstdint>

#include "kernel/event_queue.hpp"

namespace {

// Small, fixed generator: the sequence must not depend on the library.
struct Lcg {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state >> 33);
  }
};

struct PopHash {
  uint64_t value = 1469598103934665603ULL;
  void add(uint64_t word) {
    for (int i = 0; i < 8; ++i) {
      value ^= (word >> (8 * i)) & 0xFF;
      value *= 1099511628211ULL;
    }
  }
};

// Payloads are never dereferenced: a number stands in for each event.
event_t* tag(uint64_t id) { return reinterpret_cast<event_t*>(static_cast<uintptr_t>(id + 1)); }
uint64_t id_of(event_t* event) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(event)) - 1; }

// Inserts keys a few ticks after the last popped one (as periodic events
// do), so most keys repeat; the size hovers around half of `peak`.
// `spread` sets how many distinct keys are in play.
uint64_t pop_order_hash(uint64_t seed, int operations, int peak, uint32_t spread) {
  Lcg random{seed};
  PopHash hash;
  heap_t heap;
  uint64_t next_id = 0;
  vex_time_t now = 0;
  for (int i = 0; i < operations; ++i) {
    // Insert more often below half the peak, pop more often above it.
    const bool grow = heap.size() < peak / 2 ? random.next() % 4 != 0 : random.next() % 4 == 0;
    if (heap.is_empty() || (grow && heap.size() < peak)) {
      heap.insert(tag(next_id++), now + random.next() % spread);
    } else {
      vex_time_t key;
      event_t* event = heap.pop_min_data(&key);
      now = key;
      hash.add(id_of(event));
      hash.add(static_cast<uint64_t>(key));
    }
  }
  while (!heap.is_empty()) hash.add(id_of(heap.pop_min_data()));
  return hash.value;
}

}  // namespace

TEST(HeapOrder, PopOrderWithTiesIsUnchanged) {
  // Nearly everything ties, few ties, and sizes from a handful to beyond
  // several growth steps of the heap.
  EXPECT_EQ(pop_order_hash(1, 2000000, 40, 2), 11381207167797301969ULL);
  EXPECT_EQ(pop_order_hash(2, 2000000, 3000, 4), 4987265934876718543ULL);
  EXPECT_EQ(pop_order_hash(3, 2000000, 20000, 64), 9517791559007033190ULL);
  EXPECT_EQ(pop_order_hash(4, 1000000, 9000, 1), 16486252760952024378ULL);
}
