#pragma once
// One run of a sweep: the query file with the run's parameters, compiled
// and run on a simulation of its own (on ports no other run of the sweep
// holds), as fast as it goes, its results, delivery and statistics kept
// for the database.

#include <atomic>
#include <string>
#include <vector>

#include "experiments/results_db.hpp"
#include "experiments/run_list.hpp"

namespace brelo_ctl {

struct SweepRunSettings {
  std::string experiment;  // its name
  std::string brelo;       // the program to start; empty: beside brelo-ctl
  std::string scratch;     // a folder for the statistics files
  std::chrono::milliseconds timeout{5000};
};

struct SweepRunOutcome {
  bool interrupted = false;  // stopped half-way: nothing to record
  experiments::RunRow run;
  std::vector<experiments::ResultRow> results;
  std::vector<experiments::DeliveryRow> delivery;
};

// Runs `setup`; `stop` ends it early (then the outcome is interrupted).
SweepRunOutcome sweep_run(const experiments::RunSetup& setup, const SweepRunSettings& settings,
                          const std::atomic<bool>& stop);

}  // namespace brelo_ctl
