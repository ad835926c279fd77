#include "support/run.hpp"

#include "kernel/driver.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"

namespace support {

void run_until(vex_time_t until) {
  VEXH_run_all_tasks();
  while (!vex_state.queue.is_empty() && vex_state.queue.peek_event_time() <= until) {
    vex_state.queue.handle_next_event(vex_state);
    VEXH_run_all_tasks();
  }
}

void run_all() {
  while (vex_state.queue.handle_next_event(vex_state)) VEXH_run_all_tasks();
}

void unpaced() {
  set_rate_value(1e12);
  rate_checkpoint();
}

void run_loop_until(vex_time_t stop) { run_main_loop(stop, {}); }

}  // namespace support
