#pragma once
// Scheduling a test's own code into a run.

#include <functional>

#include "kernel/vex_types.hpp"

namespace support {

// Runs `call` as `mote` when virtual time reaches `time`, in queue order
// with the simulator's own events.
void call_at(vex_time_t time, int mote, std::function<void()> call);

}  // namespace support
