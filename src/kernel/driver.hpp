#pragma once
// The simulation driver: boot scheduling and the main loop.

#include "kernel/vex_types.hpp"

// Boot time of mote `index` for a draw `r` of rand() and a boot window in
// seconds: index + (r mod window ticks), or index when the window is 0.
// Computed in 64 bits, so windows above 536 seconds do not overflow.
vex_time_t boot_time_for(int index, int r, int boot_window);

// Draws the boot times of motes 0 .. motes_to_boot - 1 with rand() (seeded by
// the caller) and queues one forced boot event for each.
void schedule_boots(int motes_to_boot, int boot_window);

struct MainLoopHooks {
  void (*cpu_checkpoint)() = nullptr;  // taken every 0.2 virtual seconds when set
  // With lazy sampling: the earliest sample not queued as an event that is
  // due at or after the given time (INT64_MAX: none). The first event at or
  // after stop_time may be such a sample; then the run ends when virtual
  // time reaches it.
  vex_time_t (*skipped_event_at_or_after)(vex_time_t) = nullptr;
};

// Any thread: stops the main loop before its next event (true) or lets it
// go on (false).
void pause_simulation(bool pause);

// Runs tasks and events until virtual time reaches stop_time (0: forever).
// The first event at or after stop_time still runs; its tasks do not.
// Requests of other threads (kernel/sim_requests.hpp) are served before
// each round of tasks and an event, and while pacing waits.
void run_main_loop(vex_time_t stop_time, const MainLoopHooks& hooks);
