#include "kernel/clock.hpp"

#include <memory>

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/timer_m.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"

std::array<ClockEmulation, VEXNODES> clock_emulation{};

namespace {
const WorldReset clear_clocks{[] { restore_table(clock_emulation); }};

PerMote<HPLClock::Vars> hpl_clock;

ClockEmulation& current_clock() { return clock_emulation[vex_state.current_node.load()]; }

void insert_tick(ClockEmulation& clock, int mote, int period) {
  auto event = event_clocktick_create(mote, vex_state.vex_time, period);
  static_cast<ClockTickEvent&>(*event).generation = clock.generation;
  clock.has_event = true;
  vex_state.queue.insert_event(std::move(event));
}

void invalidate(ClockEmulation& clock) {
  if (clock.has_event) ++clock.generation;
  clock.has_event = false;
}
}  // namespace

EventPtr event_clocktick_create(int mote, vex_time_t time, int interval) {
  auto event = std::make_unique<ClockTickEvent>();
  dbg(DBG_MEM, "malloc data entry for clock event: 0x%x\n", memory_label(*event));
  event->interval = interval;
  event->mote = mote;
  event->force = 0;
  event->pause = 1;
  event->time = time + interval;
  event->cleanup = EventCleanup::total;
  return event;
}

void VEXH_clock_set_rate(uint8_t interval, uint8_t scale) {
  int mote = vex_state.current_node;
  ClockEmulation& clock = clock_emulation[mote];
  interval = static_cast<uint8_t>(interval + 1);
  dbg(DBG_CLOCK, "CLOCK: Setting clock rate to interval %u, scale %u\n", interval, scale);
  invalidate(clock);
  int ticks_per_count = scale < clockScales.size() ? clockScales[scale] : -1;
  int period = interval * ticks_per_count;
  if (period > 0) insert_tick(clock, mote, period);
  clock.intervals = interval;
  clock.scales = scale;
  clock.setTime = vex_state.vex_time;
}

void VEXH_clock_set_interval(uint8_t interval) {
  int mote = vex_state.current_node;
  ClockEmulation& clock = clock_emulation[mote];
  interval = static_cast<uint8_t>(interval + 1);
  dbg(DBG_CLOCK, "CLOCK: Setting clock interval to %u @ %s\n", interval, currentTime());
  // Only a running clock has a compare value to move.
  if (clock.scales < 1 || clock.scales > 7) return;
  invalidate(clock);
  int ticks_per_count = clockScales[clock.scales];
  int elapsed = static_cast<int>((vex_state.vex_time - clock.setTime) / ticks_per_count);
  int remaining = interval - elapsed;
  while (remaining <= 0) remaining += 256;
  insert_tick(clock, mote, remaining * ticks_per_count);
  clock.intervals = interval;
}

uint8_t VEXH_get_clock0_counter() {
  const ClockEmulation& clock = current_clock();
  if (clock.scales == 0 || clock.intervals == 0 || clock.scales > 7) return 0;
  return static_cast<uint8_t>((vex_state.vex_time - clock.setTime) / clockScales[clock.scales] % 256);
}

uint8_t VEXH_get_clock_interval() { return static_cast<uint8_t>(current_clock().intervals - 1); }

void ClockTickEvent::handle(EventPtr self, VEX_state_t& state) {
  uint8_t atomic = __quil_atomic_start();
  VEX_LOCAL_ADDRESS = static_cast<uint16_t>(mote);
  __quil_atomic_end(atomic);
  ClockEmulation& clock = clock_emulation[mote];
  if (generation != clock.generation) {
    event_cleanup(std::move(self));
    return;
  }
  if (dbg_active(DBG_CLOCK)) {
    char text[1024];
    printTime(text, sizeof text);
    dbg(DBG_CLOCK, "CLOCK: event handled for mote %i at %s (%i ticks).\n", mote, text, interval);
  }
  clock.setTime = state.vex_time;
  time += interval;
  state.queue.insert_event(std::move(self));
  SIG_OUTPUT_COMPARE2_interrupt();
}

void SIG_OUTPUT_COMPARE2_interrupt() { TimerM::Clock_fire(); }

namespace HPLClock {
result_t Clock_setRate(uint8_t interval, uint8_t scale) {
  Vars& v = hpl_clock();
  v.minterval = interval;
  v.mscale = scale;
  VEXH_clock_set_rate(interval, scale);
  return SUCCESS;
}
result_t Clock_setInterval(uint8_t value) {
  VEXH_clock_set_interval(value);
  return SUCCESS;
}
uint8_t Clock_readCounter() { return VEXH_get_clock0_counter(); }
uint8_t Clock_getInterval() { return VEXH_get_clock_interval(); }
const Vars& vars_of(int mote) { return hpl_clock.of(mote); }
}  // namespace HPLClock
