// brelo-ctl sweep: runs an experiment's runs into one database, here or as
// a Slurm job array.
//
// TODO(lead): this file is a stand-in so that the cluster modes
// (ctl/sweep_cluster.*) can be built and tested on their own. The branch
// that builds experiment files and the local sweep owns the real verb:
// keep its file, and there call add_cluster_options(options) when
// declaring the options and, once the experiment is read,
//   if (cluster_mode_asked(call)) return run_cluster_mode(call, plan, database);
// with the plan (file, name, experiment_hash, sorted run ids) from its
// experiment reader. The stand-in below reads only 'name' and
// 'vary seed A..B' lines and writes made-up rows instead of running brelo.

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ctl/sweep_cluster.hpp"
#include "ctl/verbs/all.hpp"
#include "experiments/sqlite_handle.hpp"

namespace brelo_ctl {
namespace {
namespace fs = std::filesystem;

const Option task{.name = "--task", .kind = Option::Kind::integer, .value = "K",
                  .help = "run only the runs whose index i has i % N == K", .label = "--task K --of N",
                  .whole_low = 0, .whole_high = 9999, .complaint = "--task takes a number below --of"};
const Option of{.name = "--of", .kind = Option::Kind::integer, .value = "N",
                .whole_low = 1, .whole_high = 10000, .complaint = "--of takes a number from 1 to 10000"};
const Option db{.name = "--db", .kind = Option::Kind::text, .value = "PATH",
                .help = "the database (default: FILE's name + .sqlite)"};
const Option jobs{.name = "--jobs", .kind = Option::Kind::integer, .value = "N",
                  .help = "runs at a time", .whole_low = 1, .whole_high = 256,
                  .complaint = "--jobs takes a number from 1 to 256"};

std::string fnv_hash(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
  return out;
}

// Stand-in experiment reader: 'name X' and 'vary seed A..B'.
experiments::ClusterPlan read_plan(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw UsageError{"cannot read " + file};
  std::stringstream text;
  text << in.rdbuf();
  experiments::ClusterPlan plan{.experiment_file = file, .name = fs::path(file).stem().string(),
                                .experiment_hash = fnv_hash(text.str()), .run_ids = {}};
  std::istringstream lines(text.str());
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, second, range;
    words >> first >> second >> range;
    if (first == "name") plan.name = second;
    if (first == "vary" && second == "seed") {
      int low = 0, high = 0;
      if (std::sscanf(range.c_str(), "%d..%d", &low, &high) != 2) throw UsageError{"vary seed A..B"};
      for (int seed = low; seed <= high; ++seed) plan.run_ids.push_back("seed=" + std::to_string(seed));
    }
  }
  std::sort(plan.run_ids.begin(), plan.run_ids.end());
  return plan;
}

// Stand-in local sweep: made-up but deterministic rows for each run.
int run_here(const experiments::ClusterPlan& plan, const fs::path& database, int k, int n) {
  experiments::Database out(database, true);
  out.execute(
      "CREATE TABLE IF NOT EXISTS runs(run_id TEXT PRIMARY KEY, experiment TEXT, parameters TEXT, seed INTEGER, "
      "brelo_version TEXT, brelo_commit TEXT, command_line TEXT, status TEXT, exit_status INTEGER, "
      "error_output TEXT, wall_seconds REAL, events INTEGER, virtual_seconds REAL, statistics TEXT, "
      "finished_at TEXT);"
      "CREATE TABLE IF NOT EXISTS results(run_id TEXT NOT NULL REFERENCES runs(run_id), time REAL, "
      "mote INTEGER, timestamp INTEGER, epoch INTEGER, fields TEXT);"
      "CREATE INDEX IF NOT EXISTS results_run ON results(run_id);"
      "CREATE TABLE IF NOT EXISTS delivery(run_id TEXT NOT NULL, mote INTEGER, expected INTEGER, "
      "received INTEGER);"
      "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);");
  out.execute("INSERT OR REPLACE INTO meta VALUES ('experiment_file', '" + plan.name +
              "'), ('experiment_hash', '" + plan.experiment_hash + "'), ('schema_version', '1')");
  for (std::size_t i = static_cast<std::size_t>(k); i < plan.run_ids.size(); i += static_cast<std::size_t>(n)) {
    const std::string& id = plan.run_ids[i];
    int seed = std::stoi(id.substr(5));
    std::string s = std::to_string(seed);
    out.execute("BEGIN");
    out.execute("INSERT OR IGNORE INTO runs VALUES ('" + id + "', '" + plan.name + "', '{\"seed\": " + s + "}', " +
                s + ", 'stand-in', '', 'stand-in', 'done', 0, '', 0.1, " + std::to_string(1000 * seed) +
                ", 10.0, NULL, datetime('now'))");
    for (int mote = 1; mote <= 2; ++mote) {
      out.execute("INSERT INTO results VALUES ('" + id + "', " + std::to_string(seed + mote) + ".5, " +
                  std::to_string(mote) + ", 3, 0, '{\"light\": " + std::to_string(100 * mote + seed) + "}')");
      out.execute("INSERT INTO delivery VALUES ('" + id + "', " + std::to_string(mote) + ", 10, " +
                  std::to_string(10 - (seed + mote) % 3) + ")");
    }
    out.execute("COMMIT");
  }
  return EXIT_DONE;
}

int sweep(Invocation& call) {
  const std::string& file = call.words[0];
  auto plan = read_plan(file);
  fs::path database = call.text(db).value_or(file + ".sqlite");
  if (cluster_mode_asked(call)) return run_cluster_mode(call, plan, database);
  int n = static_cast<int>(call.integer(of).value_or(1));
  int k = static_cast<int>(call.integer(task).value_or(0));
  if (k >= n) throw UsageError{"--task takes a number below --of"};
  run_cluster_mode(call, plan, database);  // refuses cluster-only options
  return run_here(plan, database, k, n);
}

std::vector<Option> sweep_options() {
  std::vector<Option> options = {task, of, db, jobs};
  add_cluster_options(options);
  return options;
}
}  // namespace

Verb sweep_verb() {
  return {.name = "sweep",
          .summary = "run an experiment's runs into one database, here or on Slurm",
          .usage = "usage: brelo-ctl sweep FILE [--jobs N] [--db PATH] [--task K --of N]\n"
                   "       brelo-ctl sweep FILE --slurm [--wait] [--tasks N] [--partition P] [--time T]\n"
                   "                 [--mem M] [--shared DIR]\n"
                   "       brelo-ctl sweep FILE --collect [--shared DIR] [--db PATH]\n"
                   "Runs every run of the experiment FILE and keeps them in one SQLite database.\n",
          .options = sweep_options(),
          .help_column = 16,
          .min_words = 1,
          .max_words = 1,
          .run = sweep};
}

}  // namespace brelo_ctl
