#include "kernel/event_queue.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"

heap_t::heap_t() : private_size_(initial_size), data_(new node_t[initial_size]) {}

event_t* heap_t::pop_min_data(vex_time_t* key) {
  event_t* min = data_[0].data;
  if (key != nullptr) *key = data_[0].key;
  --size_;
  if (size_ > 0) down_heap(0, data_[size_]);
  return min;
}

void heap_t::expand() {
  int new_size = 2 * private_size_ + 1;
  node_t* grown = new (std::nothrow) node_t[new_size];
  if (grown == nullptr) {
    // Losing events would silently corrupt the run; stopping is the honest answer.
    std::fprintf(stderr, "SIM: Out of memory growing the event queue to %i slots.\n", new_size);
    std::abort();
  }
  std::copy(data_.get(), data_.get() + size_, grown);
  data_.reset(grown);
  private_size_ = new_size;
}

// `moving` goes to slot i (which is free) and sinks below any strictly
// smaller child, taking the right child unless the left one is strictly
// smaller.
//
// Where a node has all four grandchildren, one pass loads both children and
// the four grandchildren before deciding, so the loads of the next level
// overlap with the comparisons of this one; it takes the very decisions two
// single-level steps would take, and leaves every entry in the same slot.
void heap_t::down_heap(int i, node_t moving) {
  node_t* slots = data_.get();
  const std::size_t size = static_cast<std::size_t>(size_);
  const vex_time_t key = moving.key;
  std::size_t at = static_cast<std::size_t>(i);
  for (;;) {
    std::size_t left = 2 * at + 1;
    std::size_t grand = 2 * left + 1;  // the left child's left child; four in a row
    if (grand + 3 < size) {
      const vex_time_t left_key = slots[left].key;
      const vex_time_t right_key = slots[left + 1].key;
      const vex_time_t grand_0 = slots[grand].key;
      const vex_time_t grand_1 = slots[grand + 1].key;
      const vex_time_t grand_2 = slots[grand + 2].key;
      const vex_time_t grand_3 = slots[grand + 3].key;
      const bool go_right = !(left_key < right_key);
      const vex_time_t child_key = go_right ? right_key : left_key;
      if (child_key >= key) break;
      const std::size_t child = left + go_right;
      // The chosen child's own two children.
      const vex_time_t first_key = go_right ? grand_2 : grand_0;
      const vex_time_t second_key = go_right ? grand_3 : grand_1;
      const bool grand_right = !(first_key < second_key);
      const std::size_t grandchild = grand + 2 * static_cast<std::size_t>(go_right) + grand_right;
      const vex_time_t grandchild_key = grand_right ? second_key : first_key;
      slots[at] = slots[child];
      at = child;
      if (grandchild_key >= key) break;
      slots[at] = slots[grandchild];
      at = grandchild;
      continue;
    }
    std::size_t right = left + 1;
    if (right < size) {
      // Branch-free: the right child unless the left key is strictly smaller.
      std::size_t child = left + static_cast<std::size_t>(!(slots[left].key < slots[right].key));
      if (slots[child].key >= key) break;
      slots[at] = slots[child];
      at = child;
    } else {
      if (left < size && slots[left].key < key) {
        slots[at] = slots[left];
        at = left;
      }
      break;
    }
  }
  slots[at] = moving;
}

thread_local const event_queue_t* event_queue_t::simulated_queue = nullptr;

event_queue_t::event_queue_t(int pause_seconds) : pause_(pause_seconds) {}

event_queue_t::~event_queue_t() { release_all(); }

void event_queue_t::release_all() {
  while (!heap_.is_empty()) delete heap_.pop_min_data();
  std::lock_guard<std::mutex> guard(inbox_lock_);
  for (event_t* event : inbox_) delete event;
  inbox_.clear();
  inbox_filled_.store(false, std::memory_order_relaxed);
}

void event_queue_t::init(int pause_seconds) {
  claim_simulation_thread();
  release_all();
  pause_ = pause_seconds;
  handled_ = 0;
}

void event_queue_t::log_growth(int grown_from) {
  dbg(DBG_SIM, "Resized heap from %i to %i.\n", grown_from, 2 * grown_from + 1);
}

void event_queue_t::insert_into_heap(event_t* event) {
  int grown_from = heap_.insert(event, event->time);
  if (grown_from != 0) log_growth(grown_from);
}

void event_queue_t::move_inbox_to_heap() {
  std::vector<event_t*> arrived;
  {
    std::lock_guard<std::mutex> guard(inbox_lock_);
    arrived.swap(inbox_);
    inbox_filled_.store(false, std::memory_order_relaxed);
  }
  for (event_t* event : arrived) insert_into_heap(event);
  // Hand the storage back, so the inbox seldom allocates again.
  arrived.clear();
  std::lock_guard<std::mutex> guard(inbox_lock_);
  if (inbox_.empty()) inbox_.swap(arrived);
}

void event_queue_t::insert_event_slowly(EventPtr event) {
  if (on_simulation_thread()) {
    take_inbox();
    insert_into_heap(event.release());
    return;
  }
  std::lock_guard<std::mutex> guard(inbox_lock_);
  inbox_.push_back(event.get());
  event.release();
  inbox_filled_.store(true, std::memory_order_release);
  attention::raise(attention::inbox);
}

bool event_queue_t::is_empty() {
  take_inbox();
  return heap_.is_empty();
}

vex_time_t event_queue_t::peek_event_time() {
  take_inbox();
  return heap_.get_min_key();
}

std::size_t event_queue_t::size() {
  take_inbox();
  return static_cast<std::size_t>(heap_.size());
}

EventPtr event_queue_t::pop_event() {
  take_inbox();
  if (heap_.is_empty()) return nullptr;
  return EventPtr(heap_.pop_min_data());
}

bool event_queue_t::handle_next_event(VEX_state_t& state) {
  claim_simulation_thread();
  take_inbox();
  return run_next_event(state);
}

// The queue lines and the pause of a popped event: off the common path.
[[gnu::noinline, gnu::cold]] void event_queue_t::announce_pop(const event_t& event,
                                                               vex_time_t key) {
  if (dbg_active(DBG_QUEUE)) {
    char text[128];
    printOtherTime(text, sizeof text, key);
    dbg(DBG_QUEUE, "Popping event for mote %i with time %s.\n", event.mote, text);
  }
  if (pause_ > 0 && event.pause != 0) sleep(static_cast<unsigned>(pause_));
}

[[gnu::noinline, gnu::cold]] static void announce_mote(int mote) {
  dbg(DBG_QUEUE, "Setting VEX_LOCAL_ADDRESS to %hi\n", static_cast<short>(mote));
}

bool event_queue_t::run_next_event(VEX_state_t& state) {
  // A task that has just run may have waited for a client, who handed
  // events over meanwhile: they go in before the pop, as if inserted then.
  if (attention::raised()) take_inbox();
  if (heap_.is_empty()) return false;
  vex_time_t key;
  event_t* event = heap_.pop_min_data(&key);
  ++handled_;
  // Virtual time never goes back: an event a control thread inserted for a
  // moment the simulation has meanwhile passed runs at the current time.
  if (key > state.vex_time) state.vex_time = key;
  const bool queue_lines = dbg_active(DBG_QUEUE);
  if (queue_lines || pause_ > 0) announce_pop(*event, key);

  int mote = event->mote;
  // A switched-off mote's events are released unrun unless forced.
  if (mote < 0 || mote >= VEXNODES || (!state.moteOn[mote] && event->force == 0)) {
    delete event;
    return true;
  }

  state.current_node = static_cast<int16_t>(mote);
  if (queue_lines) announce_mote(mote);
  uint8_t atomic = __quil_atomic_start();
  VEX_LOCAL_ADDRESS = static_cast<uint16_t>(mote);
  __quil_atomic_end(atomic);

  event->handle(EventPtr(event), state);
  return true;
}
