#pragma once
// The emulated hardware clock of each mote: an 8-bit counter driven by a
// prescaled oscillator that interrupts when it reaches a programmed
// interval. It is one periodic tick event per mote on the event queue;
// reprogramming it supersedes the pending tick, which is then discarded when
// it comes up (a generation count marks it stale, so nothing points at it).

#include <array>
#include <cstdint>

#include "kernel/event.hpp"
#include "kernel/vex_types.hpp"

// Ticks per clock count for each scale; scale 0 stops the clock.
constexpr std::array<int, 8> clockScales = {-1, 122, 976, 3906, 7812, 15625, 31250, 125000};

// Clock emulation state of one mote. Kernel hardware state: it survives the
// reset of the mote's component variables.
struct ClockEmulation {
  uint32_t generation = 0;  // the current tick event carries this value
  bool has_event = false;   // a tick event is pending
  uint8_t intervals = 0;    // programmed interval plus one (8-bit wrap)
  uint8_t scales = 0;       // programmed scale
  vex_time_t setTime = 0;   // the counter counts from here
};
extern std::array<ClockEmulation, VEXNODES> clock_emulation;

void VEXH_clock_set_rate(uint8_t interval, uint8_t scale);
void VEXH_clock_set_interval(uint8_t interval);
uint8_t VEXH_get_clock0_counter();
uint8_t VEXH_get_clock_interval();

struct ClockTickEvent final : event_t {
  int interval = 0;         // ticks between ticks of this event
  uint32_t generation = 0;  // stale once the mote's generation moved on
  void handle(EventPtr self, VEX_state_t& state) override;
};
EventPtr event_clocktick_create(int mote, vex_time_t time, int interval);

// The compare interrupt.
void SIG_OUTPUT_COMPARE2_interrupt();

// The clock as component code sees it.
namespace HPLClock {
struct Vars {
  uint8_t mscale;
  uint8_t minterval;
  uint8_t set_flag;
  uint8_t nextScale;
};
result_t Clock_setRate(uint8_t interval, uint8_t scale);
result_t Clock_setInterval(uint8_t value);
uint8_t Clock_readCounter();
uint8_t Clock_getInterval();
const Vars& vars_of(int mote);
}  // namespace HPLClock
