#pragma once
// The one queue of timed events: a binary min-heap keyed by virtual time,
// guarded by a mutex so the control threads can insert while the simulation
// thread pops. The lock is held for heap access only, never while logging,
// sleeping or running a handler.
//
// The order of events that share a time follows from the heap's exact sift
// rules (a new event never rises above an equal key; sifting down prefers the
// right child on equal keys). The radio depends on that order, so the rules
// must not change.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

struct node_t {
  event_t* data;
  vex_time_t key;
};

// The heap itself; callers hold the queue's lock.
class heap_t {
 public:
  static constexpr int initial_size = 511;

  heap_t();
  bool is_empty() const { return size_ == 0; }
  int size() const { return size_; }
  int capacity() const { return private_size_; }
  vex_time_t get_min_key() const { return size_ == 0 ? -1 : data_[0].key; }
  // Returns the capacity before growth when the insert had to grow the heap, 0 otherwise.
  int insert(event_t* data, vex_time_t key);
  // The heap must not be empty.
  event_t* pop_min_data(vex_time_t* key = nullptr);
  // The event in slot i, for inspection in tests.
  const node_t& slot(int i) const { return data_[i]; }

 private:
  void expand();
  void up_heap(int i);
  void down_heap(int i);

  int size_ = 0;
  int private_size_ = 0;
  std::unique_ptr<node_t[]> data_;
};

class event_queue_t {
 public:
  explicit event_queue_t(int pause_seconds = 0);
  ~event_queue_t();  // releases the events still waiting
  event_queue_t(const event_queue_t&) = delete;
  event_queue_t& operator=(const event_queue_t&) = delete;

  // Empties the queue (releasing its events) and sets the pause time.
  void init(int pause_seconds);

  void insert_event(EventPtr event);
  bool is_empty();
  vex_time_t peek_event_time();  // -1 when empty
  std::size_t size();

  // Takes the earliest event in one step with its time, so no event can slip
  // in between looking at the time and taking the event. Null when empty.
  EventPtr pop_event();

  // Pops the earliest event, advances virtual time to its time (never back)
  // and runs it (or drops it when its mote is off and it is not forced).
  // Simulation thread only. Returns false when the queue was empty.
  bool handle_next_event(VEX_state_t& state);

  // Events popped by handle_next_event since the start (simulation thread
  // only), for run statistics.
  uint64_t handled_count() const { return handled_; }

 private:
  int pause_ = 0;
  uint64_t handled_ = 0;
  heap_t heap_;
  std::mutex lock_;
};
