#pragma once
// Merging the part databases a cluster's tasks wrote (DIR/part_<K>.sqlite)
// into the sweep's one database.
//
// Nothing is written unless every run of the experiment is found exactly
// once: a run in no part (nor already in the database), a run in two parts,
// a run the experiment does not have, or a part of another experiment file
// (its meta experiment_hash differs) refuses the whole merge. The merge is
// one transaction, so an interrupted collect leaves the database as it was;
// runs the database already holds are kept and not copied again, so collect
// may be run twice.

#include <filesystem>
#include <string>
#include <vector>

#include "experiments/cluster_plan.hpp"

namespace experiments {

struct CollectOutcome {
  bool merged = false;
  std::vector<std::filesystem::path> parts;    // the part files found, sorted
  std::vector<std::string> missing;            // runs in no part
  std::vector<std::string> doubled;            // runs in two parts or more
  std::vector<std::string> unknown;            // runs the experiment does not have
  std::vector<std::string> problems;           // parts of another experiment, unreadable parts
  std::size_t copied = 0;                      // runs copied into the database
  std::size_t already = 0;                     // runs the database held before
};

// The part files of `shared_dir`: part_<K>.sqlite, in the order of K.
std::vector<std::filesystem::path> find_parts(const std::filesystem::path& shared_dir);

// Merges the parts of `shared_dir` into `database` (created with the parts'
// tables when it does not exist).
CollectOutcome collect_parts(const ClusterPlan& plan, const std::filesystem::path& shared_dir,
                             const std::filesystem::path& database);

// The refusal as lines for standard error: what is missing, doubled, unknown.
std::string describe_refusal(const CollectOutcome& outcome);

}  // namespace experiments
