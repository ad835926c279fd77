#pragma once
// What component code needs from the kernel to act in time: the current
// virtual time, a way to hand an event to the queue, and one way to make a
// typed event. Components use these rather than reaching into the
// simulator record, so the queue and the clock stay the kernel's business.
//
// Everything here is inline and adds nothing to the event path: no
// allocation beyond the event itself, no lock, no virtual call.

#include <memory>
#include <utility>

#include "kernel/event.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/vex_types.hpp"

namespace sim {

// The current virtual time, in ticks. Any thread may read it.
inline vex_time_t now() { return vex_state.vex_time.load(); }

// Hands an event to the queue, which owns it from now on. Simulation thread
// only: every event handler and what it calls runs there.
inline void schedule(EventPtr event) { vex_state.queue.insert_from_simulation(std::move(event)); }

// The same from any thread (a control thread's command): the event enters
// the queue at the simulation thread's next queue operation.
inline void schedule_from_any_thread(EventPtr event) {
  vex_state.queue.insert_event(std::move(event));
}

// A new event of kind E for `mote` at `time`; `args` go to E's constructor.
// The pause and force flags and the clean-up keep E's own defaults.
template <typename E, typename... Args>
std::unique_ptr<E> make_event(int mote, vex_time_t time, Args&&... args) {
  auto event = std::make_unique<E>(std::forward<Args>(args)...);
  event->mote = mote;
  event->time = time;
  return event;
}

}  // namespace sim
