#include "fuzz_world.hpp"

#include "app/wiring.hpp"
#include "devices/adc_model.hpp"
#include "kernel/client_events.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "net/vex_msg.hpp"
#include "radio/connectivity.hpp"

namespace fuzz {

void world_reset(int motes) {
  static bool wired = false;
  if (!wired) {
    wire_components();
    wired = true;
  }
  dbg_set(DBG_NONE);
  dbg_suppress_stdout = true;
  set_client_event_sink(nullptr);
  // Only the world's motes ever run, so only theirs need clearing.
  reset_world(motes);
  vex_state.num_nodes = static_cast<int16_t>(motes);
  create_radio_model(VARNIX_RADIO_MODEL_SIMPLE, nullptr);
  radio_model_init();
  create_adc_model(false);
  adc_model_init();
}

void world_boot_all() {
  for (int mote = 0; mote < vex_state.num_nodes; ++mote) brelo_start_mote(static_cast<uint16_t>(mote));
}

void world_run(vex_time_t ticks, int max_events) {
  const vex_time_t until = vex_state.vex_time + ticks;
  VEXH_run_all_tasks();
  for (int n = 0; n < max_events && !vex_state.queue.is_empty() &&
                  vex_state.queue.peek_event_time() <= until;
       ++n) {
    vex_state.queue.handle_next_event(vex_state);
    VEXH_run_all_tasks();
  }
}

}  // namespace fuzz
