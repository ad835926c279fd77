#pragma once
// The cluster modes of brelo-ctl sweep: --slurm submits the sweep as a
// Slurm job array, --collect merges the part databases its tasks wrote.
// The sweep verb adds these options to its own and hands over to
// run_cluster_mode before it would run anything locally.

#include <filesystem>
#include <optional>
#include <vector>

#include "ctl/verb.hpp"
#include "experiments/cluster_plan.hpp"

namespace brelo_ctl {

// Appends --slurm, --collect, --wait, --tasks, --partition, --time, --mem
// and --shared to a verb's options.
void add_cluster_options(std::vector<Option>& options);

// True when the command line asks for --slurm or --collect.
bool cluster_mode_asked(const Invocation& call);

// Runs the mode asked for; the exit status. `database` is the sweep's one
// database (where --collect merges into).
int run_cluster_mode(Invocation& call, const experiments::ClusterPlan& plan,
                     const std::filesystem::path& database);

// The folder of the part databases: --shared, else FILE's name + ".parts"
// beside it.
std::filesystem::path shared_folder(const Invocation& call, const std::filesystem::path& experiment);

}  // namespace brelo_ctl
