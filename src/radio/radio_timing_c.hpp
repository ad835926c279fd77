#pragma once
// RadioTimingC: the step between finding a start symbol and receiving bytes.
//
// getTiming queues a timing event RADIO_TIMING_DELAY ticks ahead. When it
// runs, the mote starts waiting for the sender's bit clock (waiting state 2)
// with a bit clock of its own RADIO_TIMING_CLOCK_DELAY ticks later, which a
// sender's next 1-bit may pull earlier; then the packet protocol is told
// through finishedTiming.

#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

constexpr int RADIO_TIMING_DELAY = 400;
constexpr int RADIO_TIMING_CLOCK_DELAY = 819;

namespace RadioTimingC {
// Always returns 1. A second request while one is pending is logged as an
// error and replaces the first.
uint16_t RadioTiming_getTiming();
// The low 16 bits of virtual time.
uint16_t RadioTiming_currentTime();
}  // namespace RadioTimingC

struct RadioTimingEvent final : event_t {
  int interval = 0;
  uint32_t generation = 0;  // see radioTimingEvents
  void handle(EventPtr self, VEX_state_t& state) override;
};

EventPtr event_radio_timing_create(int mote, vex_time_t time, int interval);
void event_radio_timing_invalidate(int mote);
