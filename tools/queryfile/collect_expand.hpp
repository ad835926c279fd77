#pragma once
// `collect` statements become the streams and operators of every mote of
// their tree, so the compiler checks and installs them like any part
// written by hand. For a tree planned by collect_tree.hpp, each mote:
//
//   samples the sensor                stream reading = sensor S every T
//   reads its children, if any        stream in = remote A buffer N
//   sends to its parent               stream up = remote B to PARENT
//                                     send reading -> up
//                                     send in -> up        (with children)
//
// and the collecting mote reads its children and passes the records to the
// host (`serial`) when it is mote 0, or sends them on to mote 0 otherwise.
// A relayed record is copied whole, so it keeps the mote field of the mote
// that sampled it. The remote stream numbers alternate with the depth (a
// relay reads one number and sends the other) and are the lowest ones no
// stream of the file uses.

#include <cstdint>
#include <vector>

#include "queryfile/collect_tree.hpp"
#include "queryfile/query_file.hpp"

namespace query_file {

// The tree planned for one `collect` statement, for --check to show.
struct CollectPlan {
  int line = 0;
  uint8_t query = 0;
  uint8_t sensor = 0;
  int sources = 0;  // motes that sample, the collecting mote included when it does
  CollectTree tree;
};

struct CollectExpansion {
  std::vector<CollectPlan> plans;
  std::vector<Diagnostic> errors;
  std::vector<Diagnostic> warnings;  // unreachable sources of `skip_unreachable` statements
};

// The links a file's `link` statements set, in one radio cell whose other
// pairs are perfect (what the runner's simulation then has).
Connectivity connectivity_of(const QueryFile& file);

// Plans every `collect` of `file` over `links` and adds its streams and
// operators to the parts of its query (sections must be expanded first).
CollectExpansion expand_collects(QueryFile& file, const Connectivity& links);

// "light from motes 1-19 to mote 0 (query 1, line 7): depth 3" and the tree.
std::string describe(const CollectPlan& plan);

}  // namespace query_file
