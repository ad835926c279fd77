#pragma once
// The runs of an experiment: every combination of its query files and the
// values of its varied parameters, each repeated as 'repeat' says. A run is
// named by its query file's name and its varied values, in a fixed order
// ("query=tree_collection,motes=20,seed=3,link_p=0.001"), and the list is in
// a fixed order (query files as listed, then each parameter's values from
// the lowest), so the same file always gives the same runs at the same
// indices: `--task K --of N` shares on that index.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "experiments/experiment_file.hpp"

namespace experiments {

struct RunSetup {
  std::string id;          // its name, unique in the experiment
  std::string query;       // the query file's path
  std::string parameters;  // JSON object: query and every parameter given
  std::optional<int> motes;
  std::optional<uint32_t> seed;
  std::optional<double> link_p;
  std::optional<double> period;
  std::optional<std::string> topology;
  std::optional<bool> fast;
  std::optional<int> until;
};

std::vector<RunSetup> expand(const Experiment& experiment);

}  // namespace experiments
