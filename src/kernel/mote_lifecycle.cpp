#include "kernel/mote_lifecycle.hpp"

#include "kernel/atomic.hpp"
#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/power_ledger.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

namespace {
AppEntryPoints app;

result_t call(result_t (*operation)()) { return operation != nullptr ? operation() : SUCCESS; }

void make_current(uint16_t mote) {
  vex_state.current_node = static_cast<int16_t>(mote);
  uint8_t atomic = __quil_atomic_start();
  VEX_LOCAL_ADDRESS = mote;
  __quil_atomic_end(atomic);
}
}  // namespace

void set_app_entry_points(const AppEntryPoints& entry_points) { app = entry_points; }

namespace Brelo {
result_t StdControl_init() { return call(app.init); }
result_t StdControl_start() { return call(app.start); }
result_t StdControl_stop() { return call(app.stop); }
}  // namespace Brelo

void brelo_start_mote(uint16_t mote) {
  if (mote >= vex_state.num_nodes || mote >= VEXNODES || vex_state.moteOn[mote]) return;
  __quil_brelo_initialise(mote);
  vex_state.moteOn[mote] = true;
  power_ledger::switched_on(mote, vex_state.vex_time);
  make_current(mote);
  vex_state.node_state[mote].time = vex_state.vex_time;
  Brelo::StdControl_init();
  Brelo::StdControl_start();
  vex_state.node_state[mote].pot_setting = 73;
  VEXH_run_all_tasks();
}

void brelo_stop_mote(uint16_t mote) {
  if (mote >= VEXNODES) return;
  vex_state.cancelBoot[mote] = true;
  if (!vex_state.moteOn[mote] || mote >= vex_state.num_nodes) return;
  vex_state.moteOn[mote] = false;
  power_ledger::switched_off(mote, vex_state.vex_time);
  make_current(mote);
  vex_state.node_state[mote].time = vex_state.vex_time;
  Brelo::StdControl_stop();
}

BootEvent::BootEvent(int boot_mote, vex_time_t boot_time) {
  time = boot_time;
  mote = boot_mote;
  pause = 0;
  force = 1;
  cleanup = EventCleanup::data_only;
}

void BootEvent::handle(EventPtr self, VEX_state_t& state) {
  // A boot event is neither re-armed nor logged as cleaned up; it just goes.
  event_boot_handle(*self, state);
}

void event_boot_handle(event_t& event, VEX_state_t& state) {
  char text[128];
  printTime(text, sizeof text);
  if (!state.cancelBoot[event.mote]) {
    dbg(DBG_BOOT, "BOOT: Mote booting at time %s.\n", text);
    brelo_start_mote(static_cast<uint16_t>(event.mote));
  } else {
    dbg(DBG_BOOT, "BOOT: Boot cancelled at time %s since mote turned off.\n", text);
  }
}
