#pragma once
// The one queue of timed events: a binary min-heap keyed by virtual time.
//
// The heap belongs to the simulation thread: the thread that initialised
// the queue or last ran one of its events. It inserts and pops without a
// lock. Any other thread (the control threads) hands its events to an inbox
// under a mutex and raises the attention word; the simulation thread moves
// them into the heap, in the order they came, before its next heap
// operation. So a control thread's event enters the heap as if the
// simulation thread had inserted it at that moment, and the event path
// takes no lock at all.
//
// The order of events that share a time follows from the heap's exact sift
// rules (a new event never rises above an equal key; sifting down prefers the
// right child on equal keys). The radio depends on that order, so the rules
// must not change.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <atomic>
#include <mutex>
#include <vector>

#include "kernel/attention.hpp"
#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

struct node_t {
  event_t* data;
  vex_time_t key;
};

// The heap itself; only the simulation thread touches it.
class heap_t {
 public:
  static constexpr int initial_size = 511;

  heap_t();
  bool is_empty() const { return size_ == 0; }
  int size() const { return size_; }
  int capacity() const { return private_size_; }
  vex_time_t get_min_key() const { return size_ == 0 ? -1 : data_[0].key; }
  // Returns the capacity before growth when the insert had to grow the heap, 0 otherwise.
  int insert(event_t* data, vex_time_t key) {
    int grown_from = 0;
    if (size_ == private_size_) {
      grown_from = private_size_;
      expand();
    }
    up_heap(size_, node_t{data, key});
    ++size_;
    return grown_from;
  }
  // The heap must not be empty.
  event_t* pop_min_data(vex_time_t* key = nullptr);
  // The event in slot i, for inspection in tests.
  const node_t& slot(int i) const { return data_[i]; }

 private:
  void expand();
  // Both move a hole instead of swapping: the same comparisons, the same
  // final slots as swapping step by step, half the stores.
  void up_heap(int i, node_t moving) {
    node_t* slots = data_.get();
    while (i > 0) {
      int parent = (i - 1) / 2;
      if (slots[parent].key <= moving.key) break;
      slots[i] = slots[parent];
      i = parent;
    }
    slots[i] = moving;
  }
  void down_heap(int i, node_t moving);

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

  // Empties the queue (releasing its events) and sets the pause time. The
  // calling thread becomes the simulation thread.
  void init(int pause_seconds);

  // Any thread. Inline: periodic events re-arm through it at every run.
  void insert_event(EventPtr event) {
    if (on_simulation_thread() && !inbox_filled_.load(std::memory_order_acquire)) {
      int grown_from = heap_.insert(event.get(), event->time);
      event.release();
      if (grown_from != 0) log_growth(grown_from);
      return;
    }
    insert_event_slowly(std::move(event));
  }

  // Simulation thread only (event handlers and what they call): straight
  // into the heap. Only an inbox a control thread filled, which raises the
  // attention word, is moved in first.
  void insert_from_simulation(EventPtr event) {
    if (attention::raised()) take_inbox();
    int grown_from = heap_.insert(event.get(), event->time);
    event.release();
    if (grown_from != 0) log_growth(grown_from);
  }

  // The rest: simulation thread only.
  bool is_empty();
  vex_time_t peek_event_time();  // -1 when empty
  std::size_t size();

  // Takes the earliest event with its time. Null when empty.
  EventPtr pop_event();

  // Pops the earliest event, advances virtual time to its time (never back)
  // and runs it (or drops it when its mote is off and it is not forced).
  // The calling thread becomes the simulation thread. Returns false when
  // the queue was empty.
  bool handle_next_event(VEX_state_t& state);

  // The main loop's form of handle_next_event: for the simulation thread
  // once it has claimed the queue (claim_simulation_thread), and it moves
  // the inbox in whenever the attention word is raised (take_inbox).
  bool run_next_event(VEX_state_t& state);
  void claim_simulation_thread() { simulated_queue = this; }
  // Moves the inbox into the heap when a control thread has filled it.
  void take_inbox() {
    if (inbox_filled_.load(std::memory_order_acquire)) move_inbox_to_heap();
  }

  // Events popped by handle_next_event since the start (simulation thread
  // only), for run statistics.
  uint64_t handled_count() const { return handled_; }

 private:
  bool on_simulation_thread() const { return simulated_queue == this; }
  void insert_event_slowly(EventPtr event);
  static void log_growth(int grown_from);
  void announce_pop(const event_t& event, vex_time_t key);

  // The queue whose heap this thread owns, if any.
  static thread_local const event_queue_t* simulated_queue;
  void insert_into_heap(event_t* event);
  void move_inbox_to_heap();
  void release_all();

  int pause_ = 0;
  uint64_t handled_ = 0;
  heap_t heap_;

  // Events from other threads, oldest first; guarded by inbox_lock_.
  std::mutex inbox_lock_;
  std::vector<event_t*> inbox_;
  std::atomic<bool> inbox_filled_{false};
};
