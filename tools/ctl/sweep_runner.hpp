#pragma once
// brelo-ctl sweep: runs the runs of an experiment file on this machine,
// `jobs` at a time, into its results database.
//
// Runs already in the database are skipped, so a sweep stopped by Ctrl-C or
// a crash goes on where it stopped when started again. A run that fails is
// recorded as failed (its exit status and error output) and the others go
// on. With a share (`task` of `of`), only the runs whose index in the
// experiment's run list leaves remainder `task` when divided by `of` run.

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

namespace brelo_ctl {

struct SweepRequest {
  std::string file;
  int jobs = 1;
  std::optional<std::string> database;  // default: experiments::default_database_path
  int task = 0;
  int of = 1;
  std::string brelo;      // the simulator; empty: beside brelo-ctl
  bool progress = false;  // a progress bar on `err`
  std::chrono::milliseconds timeout{5000};
};

// The exit status: 0 every run done, 3 some failed (and are recorded) or
// the database could not be written, 2 a wrong experiment file or
// database, 130 interrupted.
int run_sweep(const SweepRequest& request, std::ostream& err);

inline constexpr int EXIT_INTERRUPTED = 130;

}  // namespace brelo_ctl
