// brelo-ctl sweep: runs an experiment's runs into its results database.

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "ctl/sweep_cluster.hpp"
#include "ctl/sweep_runner.hpp"
#include "ctl/verbs/all.hpp"
#include "experiments/experiment_file.hpp"
#include "experiments/results_db.hpp"
#include "experiments/run_list.hpp"

namespace brelo_ctl {
namespace {
const Option jobs{.name = "--jobs",
                  .kind = Option::Kind::integer,
                  .value = "N",
                  .help = "run N simulations at a time (default 1)",
                  .whole_low = 1,
                  .whole_high = 256,
                  .complaint = "--jobs takes a number from 1 to 256"};
const Option db{.name = "--db",
                .kind = Option::Kind::text,
                .value = "PATH",
                .help = "the results database (default: FILE with its\n"
                        "extension replaced by .sqlite)"};
const Option task{.name = "--task",
                  .kind = Option::Kind::integer,
                  .value = "K",
                  .help = "with --of N: only the runs whose index in the\n"
                          "experiment's run list leaves K when divided by N",
                  .whole_low = 0,
                  .whole_high = 1000000,
                  .complaint = "--task takes a number from 0 to 1000000"};
const Option of{.name = "--of",
                .kind = Option::Kind::integer,
                .value = "N",
                .whole_low = 1,
                .whole_high = 1000000,
                .complaint = "--of takes a number from 1 to 1000000"};
const Option brelo{.name = "--brelo",
                   .kind = Option::Kind::text,
                   .value = "PATH",
                   .help = "the simulator to start (default: the brelo beside\n"
                           "brelo-ctl)"};

// What --slurm and --collect need of the experiment: its runs in the order
// the tasks share them, and the hash every part's database carries.
experiments::ClusterPlan cluster_plan_of(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw UsageError{"cannot read " + file};
  std::stringstream text;
  text << in.rdbuf();
  experiments::ExperimentParse parsed = experiments::parse_experiment(text.str(), file);
  if (!parsed.errors.empty()) throw UsageError{parsed.errors.front()};
  experiments::ClusterPlan plan;
  plan.experiment_file = file;
  plan.name = parsed.experiment.name;
  plan.experiment_hash = experiments::text_hash(text.str());
  for (const experiments::RunSetup& run : experiments::expand(parsed.experiment)) {
    plan.run_ids.push_back(run.id);
  }
  return plan;
}

int sweep(Invocation& call) {
  if (cluster_mode_asked(call)) {
    const std::string& file = call.words[0];
    const std::string database = call.text(db).value_or(experiments::default_database_path(file));
    return run_cluster_mode(call, cluster_plan_of(file), database);
  }
  SweepRequest request;
  request.file = call.words[0];
  if (auto n = call.integer(jobs)) request.jobs = static_cast<int>(*n);
  request.database = call.text(db);
  const auto k = call.integer(task);
  const auto n = call.integer(of);
  if (k.has_value() != n.has_value()) throw UsageError{"give --task K and --of N together"};
  if (k) {
    if (*k >= *n) throw UsageError{"--task K must be below --of N"};
    request.task = static_cast<int>(*k);
    request.of = static_cast<int>(*n);
  }
  if (auto path = call.text(brelo)) request.brelo = *path;
  request.timeout = call.timeout;
  request.progress = call.err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
  return run_sweep(request, *call.err);
}
std::vector<Option> sweep_options() {
  std::vector<Option> options = {jobs, db, task, of, brelo};
  add_cluster_options(options);
  return options;
}
}  // namespace

Verb sweep_verb() {
  return {.name = "sweep",
          .summary = "run an experiment's runs into a results database",
          .usage = "usage: brelo-ctl sweep FILE [--jobs N] [--db PATH] [--task K --of N]\n"
                   "                       [--brelo PATH]\n"
                   "       brelo-ctl sweep FILE --slurm [--wait] [--tasks N] [--partition P]\n"
                   "                       [--time T] [--mem M] [--shared DIR]\n"
                   "       brelo-ctl sweep FILE --collect [--shared DIR] [--db PATH]\n"
                   "Reads an experiment file (docs/experiments.md: query files and the\n"
                   "parameters to vary), and runs each of its runs on a simulation of its\n"
                   "own, as fast as it goes, writing the runs, their results, delivery and\n"
                   "statistics into one SQLite database. Runs already in the database are\n"
                   "skipped, so a sweep stopped by Ctrl-C goes on where it stopped when\n"
                   "started again; a run that fails is recorded as failed and the sweep\n"
                   "goes on. A progress bar goes to standard error when it is a terminal,\n"
                   "else a line per run.\n",
          .options = sweep_options(),
          .help_column = 18,
          .notes = "Exit status 0 when every run is done, 2 when the file has mistakes\n"
                   "(each reported as FILE:LINE) or the database is another experiment's,\n"
                   "3 when runs failed (they are recorded) or the database cannot be\n"
                   "written, 130 when interrupted.\n",
          .min_words = 1,
          .max_words = 1,
          .run = sweep};
}

}  // namespace brelo_ctl
