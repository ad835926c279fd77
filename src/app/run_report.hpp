#pragma once
// The statistics file of a run (-stats=FILE): per mote the counts of
// kernel/run_stats.hpp, the time switched on, the time and energy in each
// power state, and the run's totals, as one JSON object. The file is opened
// at start-up, so a path that cannot be written stops the run before it
// begins, and written once at the end of the run or on Ctrl-C.
// docs/statistics.md describes every member.

#include <string>

#include "devices/energy_model.hpp"

namespace run_report {

// Opens (truncates) the file; false when it cannot be written.
bool open(const std::string& path, const EnergyFigures& figures);

// Marks the start of the main loop, from which wall time counts.
void start_clock();

// Writes the report of motes 0 to num_nodes-1 at the current virtual time
// and closes the file; `ended_by` says how the run ended. Does nothing when
// no file is open or the report was written already.
void write(const char* ended_by);

}  // namespace run_report
