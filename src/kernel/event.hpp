#pragma once
// One simulator event. Each kind of event is a small class derived from
// event_t that carries its own data and says what happens when it runs.
//
// Ownership: the creator owns an event until it inserts it into the queue;
// the queue owns it while it waits; once popped, the handler owns it and
// either inserts it again (periodic events re-arm the same record) or lets
// it go, through event_cleanup when the release should be logged.

#include <cstdint>
#include <memory>

#include "kernel/vex_types.hpp"

struct VEX_state_t;
struct event_t;
using EventPtr = std::unique_ptr<event_t>;

// Which clean-up the event carries; only the DBG_MEM lines tell them apart.
enum class EventCleanup : uint8_t {
  total,    // event and data released: nearly all hardware events
  data_only // only the data released: boot events
};

struct event_t {
  vex_time_t time = 0;  // when the event runs; the queue's key
  int mote = 0;         // the mote it belongs to
  int pause = 0;        // nonzero: popping it sleeps for the queue's pause time
  int force = 0;        // nonzero: runs even when its mote is switched off
  EventCleanup cleanup = EventCleanup::total;
  // Names the event in memory lines. A count rather than an address, so
  // that the same run prints the same lines every time.
  const uint32_t label;

  event_t();
  event_t(const event_t&) = delete;
  event_t& operator=(const event_t&) = delete;
  virtual ~event_t() = default;

  // Runs the event as the current mote. `self` is this very event.
  virtual void handle(EventPtr self, VEX_state_t& state) = 0;
};

// The label memory lines show for an event: 1 for the first event made, 2
// for the next, and so on.
inline unsigned memory_label(const event_t& event) { return event.label; }

// Disposes of an event the handler does not re-arm, logging under DBG_MEM.
void event_cleanup(EventPtr event);
