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

int heap_t::insert(event_t* data, vex_time_t key) {
  int grown_from = 0;
  if (size_ == private_size_) {
    grown_from = private_size_;
    expand();
  }
  data_[size_] = node_t{data, key};
  up_heap(size_);
  ++size_;
  return grown_from;
}

event_t* heap_t::pop_min_data(vex_time_t* key) {
  event_t* min = data_[0].data;
  if (key != nullptr) *key = data_[0].key;
  data_[0] = data_[size_ - 1];
  --size_;
  down_heap(0);
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

void heap_t::up_heap(int i) {
  while (i > 0) {
    int parent = (i - 1) / 2;
    if (data_[parent].key <= data_[i].key) return;
    std::swap(data_[parent], data_[i]);
    i = parent;
  }
}

void heap_t::down_heap(int i) {
  for (;;) {
    int left = 2 * i + 1;
    int right = 2 * i + 2;
    if (right < size_) {
      int child = data_[left].key < data_[right].key ? left : right;
      if (data_[child].key >= data_[i].key) return;
      std::swap(data_[child], data_[i]);
      i = child;
    } else {
      if (left < size_ && data_[left].key < data_[i].key) std::swap(data_[left], data_[i]);
      return;
    }
  }
}

event_queue_t::event_queue_t(int pause_seconds) : pause_(pause_seconds) {}

event_queue_t::~event_queue_t() {
  while (!heap_.is_empty()) delete heap_.pop_min_data();
}

void event_queue_t::init(int pause_seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  while (!heap_.is_empty()) delete heap_.pop_min_data();
  pause_ = pause_seconds;
  handled_ = 0;
}

void event_queue_t::insert_event(EventPtr event) {
  int grown_from;
  {
    std::lock_guard<std::mutex> guard(lock_);
    vex_time_t key = event->time;
    grown_from = heap_.insert(event.release(), key);
  }
  if (grown_from != 0) dbg(DBG_SIM, "Resized heap from %i to %i.\n", grown_from, 2 * grown_from + 1);
}

bool event_queue_t::is_empty() {
  std::lock_guard<std::mutex> guard(lock_);
  return heap_.is_empty();
}

vex_time_t event_queue_t::peek_event_time() {
  std::lock_guard<std::mutex> guard(lock_);
  return heap_.get_min_key();
}

std::size_t event_queue_t::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<std::size_t>(heap_.size());
}

EventPtr event_queue_t::pop_event() {
  std::lock_guard<std::mutex> guard(lock_);
  if (heap_.is_empty()) return nullptr;
  return EventPtr(heap_.pop_min_data());
}

bool event_queue_t::handle_next_event(VEX_state_t& state) {
  EventPtr event;
  vex_time_t key;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (heap_.is_empty()) return false;
    event.reset(heap_.pop_min_data(&key));
  }
  ++handled_;
  // Virtual time never goes back: an event a control thread inserted for a
  // moment the simulation has meanwhile passed runs at the current time.
  if (key > state.vex_time) state.vex_time = key;
  if (dbg_active(DBG_QUEUE)) {
    char text[128];
    printOtherTime(text, sizeof text, key);
    dbg(DBG_QUEUE, "Popping event for mote %i with time %s.\n", event->mote, text);
  }
  if (pause_ > 0 && event->pause != 0) sleep(static_cast<unsigned>(pause_));

  int mote = event->mote;
  // A switched-off mote's events are released unrun unless forced.
  if (mote < 0 || mote >= VEXNODES) return true;
  if (!state.moteOn[mote] && event->force == 0) return true;

  state.current_node = static_cast<int16_t>(mote);
  dbg(DBG_QUEUE, "Setting VEX_LOCAL_ADDRESS to %hi\n", static_cast<short>(mote));
  uint8_t atomic = __quil_atomic_start();
  VEX_LOCAL_ADDRESS = static_cast<uint16_t>(mote);
  __quil_atomic_end(atomic);

  event_t& running = *event;
  running.handle(std::move(event), state);
  return true;
}
