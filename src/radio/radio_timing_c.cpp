#include "radio/radio_timing_c.hpp"

#include <memory>

#include "kernel/dbg.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "radio/orla_high_speed_radio_m.hpp"
#include "radio/radio_hardware.hpp"
#include "radio/spi_byte_fifo_c.hpp"

namespace RadioTimingC {
uint16_t RadioTiming_getTiming() {
  const int mote = vex_state.current_node.load();
  if (radioTimingEvents[mote].live) dbg(DBG_ERROR, "radioTIMING is in bad shape...");
  EventPtr event = event_radio_timing_create(mote, sim::now() + RADIO_TIMING_DELAY, 0);
  static_cast<RadioTimingEvent&>(*event).generation = radioTimingEvents[mote].arm();
  sim::schedule(std::move(event));
  return 1;
}

uint16_t RadioTiming_currentTime() { return static_cast<uint16_t>(sim::now()); }
}  // namespace RadioTimingC

EventPtr event_radio_timing_create(int mote, vex_time_t time, int interval) {
  auto event = sim::make_event<RadioTimingEvent>(mote, time);
  dbg(DBG_MEM, "malloc radio timing event data.\n");
  event->interval = interval;
  event->cleanup = EventCleanup::total;
  return event;
}

void event_radio_timing_invalidate(int mote) { radioTimingEvents[mote].invalidate(); }

void RadioTimingEvent::handle(EventPtr self, VEX_state_t&) {
  RadioEventHandle& timing = radioTimingEvents[mote];
  if (!timing.is_live(generation)) {
    dbg(DBG_RADIO, "RADIO: invalid radio timing event for mote %i at %lli discarded.\n", mote,
        static_cast<long long>(time));
    event_cleanup(std::move(self));
    return;
  }
  if (dbg_active(DBG_RADIO)) {
    dbg(DBG_RADIO, "RADIO: radio timing event handled for mote %i at %s with interval of %i.\n",
        mote, currentTime(), interval);
  }
  // Spent: it comes up once more, at the same time, and is discarded then.
  timing.invalidate();
  time += interval;
  const int waiting_mote = mote;
  sim::schedule(std::move(self));

  set_radio_waiting(waiting_mote, WAITING_FOR_SENDER_CLOCK);
  event_spi_byte_start(waiting_mote, sim::now() + RADIO_TIMING_CLOCK_DELAY);
  OrlaHighSpeedRadioM::finishedTiming();
}
