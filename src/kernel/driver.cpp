#include "kernel/driver.hpp"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "kernel/attention.hpp"
#include "kernel/dbg.hpp"
#include "kernel/mote_lifecycle.hpp"
#include "kernel/pacing.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/signals.hpp"
#include "kernel/sim_requests.hpp"
#include "kernel/vex_state.hpp"

namespace {
constexpr vex_time_t cpu_checkpoint_interval = 800000;  // 0.2 virtual seconds

void pause_point() {
  if (!vex_state.paused) return;
  std::unique_lock<std::mutex> lock(vex_state.pause_lock);
  if (vex_state.paused) {
    vex_state.pause_ack_cond.notify_one();
    vex_state.pause_cond.wait(lock);
  }
}

// What other threads asked for since the last pass: all sources are looked
// at, whichever bits were raised; each look is cheap when its flag is clear.
void serve_attention() {
  attention::take();
  if (sigint_pending()) exit_on_sigint();
  pause_point();
  sim_requests::serve();
  rate_apply_pending();
  vex_state.queue.take_inbox();
}
// When the first event at or after the stop time would be a sample that
// lazy sampling does not queue, virtual time flows toward that sample at the
// chosen rate, as it would through the silent samples before it, and the run
// ends there. Returns true when it took this round instead of an event.
bool idle_toward_skipped_event(vex_time_t stop_time, const MainLoopHooks& hooks) {
  vex_time_t next = vex_state.queue.peek_event_time();
  if (next == -1 || next < stop_time) return false;
  vex_time_t skipped = hooks.skipped_event_at_or_after(stop_time);
  if (skipped == INT64_MAX || next <= skipped) return false;
  rate_idle_advance(skipped);
  return true;
}
}  // namespace

vex_time_t boot_time_for(int index, int r, int boot_window) {
  if (boot_window < 1) return index;
  vex_time_t window_ticks = static_cast<vex_time_t>(boot_window) * TICKS_PER_SECOND;
  return index + r % window_ticks;
}

void schedule_boots(int motes_to_boot, int boot_window) {
  for (int i = 0; i < motes_to_boot; ++i) {
    vex_time_t time = boot_time_for(i, std::rand(), boot_window);
    vex_state.node_state[i].time = time;
    dbg_clear(DBG_USR3 | DBG_SIM, "SIM: Time for mote %lli initialized to %lli.\n",
              static_cast<long long>(i), static_cast<long long>(time));
  }
  for (int i = 0; i < motes_to_boot; ++i) {
    vex_time_t time = vex_state.node_state[i].time;
    vex_state.queue.insert_event(std::make_unique<BootEvent>(i, time));
    if (dbg_active(DBG_BOOT)) {
      char text[128];
      printOtherTime(text, sizeof text, time);
      dbg(DBG_BOOT, "BOOT: Scheduling for boot at %s.\n", text);
    }
  }
}

void pause_simulation(bool pause) {
  {
    std::lock_guard<std::mutex> guard(vex_state.pause_lock);
    vex_state.paused = pause;
  }
  if (pause) {
    attention::raise(attention::pause);
  } else {
    vex_state.pause_cond.notify_all();
  }
}

void run_main_loop(vex_time_t stop_time, const MainLoopHooks& hooks) {
  vex_time_t last_cpu_checkpoint = 0;
  event_queue_t& queue = vex_state.queue;
  queue.claim_simulation_thread();
  // Whatever was raised before the loop started is served on its first pass.
  serve_attention();
  while (stop_time == 0 || vex_state.vex_time < stop_time) {
    if (attention::raised()) serve_attention();
    VEXH_run_all_tasks();
    if (stop_time != 0 && hooks.skipped_event_at_or_after != nullptr &&
        idle_toward_skipped_event(stop_time, hooks)) {
      continue;
    }
    if (queue.run_next_event(vex_state)) {
      rate_wait_if_ahead();
    } else {
      rate_idle_advance(stop_time);
    }
    if (hooks.cpu_checkpoint != nullptr &&
        vex_state.vex_time - last_cpu_checkpoint > cpu_checkpoint_interval) {
      hooks.cpu_checkpoint();
      last_cpu_checkpoint = vex_state.vex_time;
    }
  }
}
