#pragma once
// brelo-ctl run: runs the queries of a query file and prints their results.
//
// It reads and checks the file (nothing is sent when anything is wrong),
// starts a simulation of its own (or attaches to a running one), sets the
// ADC values and link probabilities, hands the operator messages to mote 0's
// serial port, paced by mote 0's radio, and prints every result mote 0 sends
// to the host, until the time limit or Ctrl-C. A simulation it started ends
// with it; its ports are said on standard error, so that it can be watched.

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "lib/result_sinks.hpp"
#include "queryfile/query_compile.hpp"

namespace brelo_ctl {

struct RunRequest {
  std::string file;
  std::optional<int> motes;
  std::optional<double> until;
  std::optional<uint32_t> seed;
  std::vector<std::string> adc;    // settings as in the file, without "adc"
  std::vector<std::string> links;  // likewise, without "link"
  std::optional<std::string> topology;  // a lossy-link file (instead of the file's)
  brelo_host::ResultFormat format = brelo_host::ResultFormat::table;
  bool check_only = false;  // read, check and list the messages; run nothing
  bool attach = false;      // to the simulation on `command_port`
  uint16_t command_port = 0;
  bool port_given = false;  // a simulation we start listens on `command_port`
  double rate = 20;         // real-time factor of a simulation we start
  bool fast = false;        // start it with -fast
  std::optional<std::string> out_dir;  // write the run's record there (run_record.hpp)
  std::optional<std::string> trace_file;  // the simulation writes a packet trace there
  std::string brelo;        // the program to start; empty: beside brelo-ctl
  std::chrono::milliseconds timeout{5000};
  bool progress = false;    // show progress on `err`
  bool stats = false;       // print brelo's per-mote statistics on `err` at the end
  bool energy = false;      // print its per-mote energy on `err` at the end
  std::optional<std::string> energy_figures;  // brelo's -energy= file
};

int run_queries(const RunRequest& request, std::ostream& out, std::ostream& err);

// The plan of the request's file with its command-line settings, for a
// simulation brelo-ctl starts: read, checked and compiled, warnings and
// mistakes reported on `err` (nullopt when there are mistakes).
std::optional<query_file::Plan> plan_of(const RunRequest& request, std::ostream& err);

}  // namespace brelo_ctl
