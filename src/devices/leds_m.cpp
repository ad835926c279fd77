#include "devices/leds_m.hpp"

#include "devices/power_state_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"

namespace LedsM {
namespace {
PerMote<Vars> leds;

void report(uint8_t state) {
  uint8_t event = state & 7;
  sendVarnixEvent(static_cast<uint16_t>(vex_state.current_node.load()), AM_LEDEVENT,
                  sim::now(), &event, sizeof event);
}

// Sets or clears one LED, reporting only a real change.
void change(uint8_t bit, bool on) {
  uint8_t atomic = __quil_atomic_start();
  uint8_t& state = leds().ledsOn;
  uint8_t next = on ? (state | bit) : (state & ~bit);
  if (next != state) {
    state = next;
    report(state);
  }
  __quil_atomic_end(atomic);
}
}  // namespace

result_t init() {
  uint8_t atomic = __quil_atomic_start();
  leds().ledsOn = 0;
  dbg(DBG_BOOT, "LEDS: initialized.\n");
  report(0);
  __quil_atomic_end(atomic);
  return SUCCESS;
}

result_t redOn() {
  dbg(DBG_LED, "LEDS: Red on.\n");
  PowerStateM::redOn();
  change(RED_BIT, true);
  return SUCCESS;
}
result_t redOff() {
  dbg(DBG_LED, "LEDS: Red off.\n");
  PowerStateM::redOff();
  change(RED_BIT, false);
  return SUCCESS;
}
result_t greenOn() {
  dbg(DBG_LED, "LEDS: Green on.\n");
  PowerStateM::greenOn();
  change(GREEN_BIT, true);
  return SUCCESS;
}
result_t greenOff() {
  dbg(DBG_LED, "LEDS: Green off.\n");
  PowerStateM::greenOff();
  change(GREEN_BIT, false);
  return SUCCESS;
}
result_t yellowOn() {
  dbg(DBG_LED, "LEDS: Yellow on.\n");
  PowerStateM::yellowOn();
  change(YELLOW_BIT, true);
  return SUCCESS;
}
result_t yellowOff() {
  dbg(DBG_LED, "LEDS: Yellow off.\n");
  PowerStateM::yellowOff();
  change(YELLOW_BIT, false);
  return SUCCESS;
}

result_t redToggle() { return (leds().ledsOn & RED_BIT) ? redOff() : redOn(); }
result_t greenToggle() { return (leds().ledsOn & GREEN_BIT) ? greenOff() : greenOn(); }
result_t yellowToggle() { return (leds().ledsOn & YELLOW_BIT) ? yellowOff() : yellowOn(); }

Vars& vars_of(int mote) { return leds.of(mote); }
}  // namespace LedsM
