#pragma once
// Ways for a test to let simulated time pass.

#include "kernel/vex_types.hpp"

namespace support {

// Runs the pending tasks, then every event due up to and including `until`
// in queue order, each followed by the tasks it posted. Time stops at the
// last event run.
void run_until(vex_time_t until);

// Runs every queued event, and the tasks each posts, until the queue is empty.
void run_all();

// Lets the driver run as fast as it can from now on (no real-time pacing).
void unpaced();

// Runs the simulator's own main loop until virtual time `stop`.
void run_loop_until(vex_time_t stop);

}  // namespace support
