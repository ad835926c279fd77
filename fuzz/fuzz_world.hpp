#pragma once
// A simulated world for fuzz targets, in process: a few motes with the whole
// component graph wired, the simple radio model and the generic ADC model,
// no control clients and no debug output. Each input starts from a fresh
// world so that inputs do not depend on each other.

#include <cstdint>

#include "kernel/vex_types.hpp"

namespace fuzz {

// Clears the queue, the task ring and every component variable of every
// mote, and makes a world of `motes` motes, all off.
void world_reset(int motes);

// Switches motes 0 to motes-1 on, as the boot events would.
void world_boot_all();

// Runs events, and the tasks they post, for at most `ticks` of virtual time
// and at most `max_events` events, so that every input ends quickly.
void world_run(vex_time_t ticks, int max_events);

}  // namespace fuzz
