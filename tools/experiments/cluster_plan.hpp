#pragma once
// What the cluster modes of a sweep need to know about an experiment: its
// name, the hash of its file's text (which every part database carries in
// its meta table) and the ids of its runs in their fixed order (task K of N
// runs the runs whose index i has i % N == K).

#include <string>
#include <vector>

namespace experiments {

struct ClusterPlan {
  std::string experiment_file;  // as given on the command line
  std::string name;
  std::string experiment_hash;
  std::vector<std::string> run_ids;
};

}  // namespace experiments
