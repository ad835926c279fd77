#pragma once
// What `brelo-ctl run --out DIR` leaves behind, so that a run can be looked
// at later and repeated:
//
//   results.csv   every result, as --csv prints them
//   FILE          the query file as it was run, under its own name (and the
//                 lossy-link file it ran on, if any)
//   run.txt       the exact brelo command line, the seed, the ports, and
//                 the version and commit of the build, one "name: value" a line
//   delivery.csv  per source mote: expected, received, ratio (empty: unknown)
//
// Files of these names already in DIR are replaced.

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/result_sinks.hpp"
#include "queryfile/delivery.hpp"

namespace brelo_ctl {

class RunRecord {
 public:
  // Creates `dir` (and its parents) and results.csv in it; nullptr, with
  // the reason in `why`, when it cannot.
  static std::unique_ptr<RunRecord> create(const std::string& dir, std::string& why);

  brelo_host::ResultSink& results() { return *results_; }

  // Copies a file the run used into the folder, under its own name.
  bool keep_copy(const std::string& file, std::string& why) const;

  struct Facts {
    std::vector<std::string> brelo_command;  // empty: a simulation we attached to
    std::optional<uint32_t> seed;            // nullopt: not known (attached)
    uint16_t command_port = 0;
  };
  bool write_run(const Facts& facts, std::string& why) const;

  bool write_delivery(const std::vector<query_file::Delivery>& summary, std::string& why) const;

 private:
  explicit RunRecord(std::string dir) : dir_(std::move(dir)) {}
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::ofstream results_file_;
  std::unique_ptr<brelo_host::ResultSink> results_;
};

// A command line as a POSIX shell reads it back: words with characters the
// shell treats specially are single-quoted.
std::string shell_words(const std::vector<std::string>& words);

}  // namespace brelo_ctl
