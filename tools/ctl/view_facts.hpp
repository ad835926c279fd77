#pragma once
// What brelo-ctl view's page asks about the simulation at /api/info: the
// mote count, radio model, rate and virtual time, where the motes stand,
// and the fields its results carry.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "control/client/control_client.hpp"
#include "queryfile/query_compile.hpp"

namespace brelo_ctl {

// Learnt from the simulation's initial event and kept up to date by the
// event pump; read by the server's threads.
class SimulationFacts {
 public:
  void initial(const ctl::VarnixInitEvent& init);
  void reached(int64_t time);
  // The facts as /api/info's JSON, with the rate last set through the view
  // (negative: none) and the positions and results members. Waits a moment
  // for the initial event, which arrives as soon as the pump watches.
  std::string json(double rate_set, const std::string& positions, const std::string& results);

 private:
  std::mutex mutex_;
  std::condition_variable known_changed_;
  bool known_ = false;
  int motes_ = 0;
  std::string radio_model_ = "simple";
  double rate_ = 0;
  int64_t time_ = 0;
};

// The placement in `file` as [[x,y],...]; "null" without a file. A file
// given on the command line (`given`) that cannot be read is reported on
// `err` (nullopt); one guessed beside a topology is skipped when missing.
std::optional<std::string> positions_json(const std::string& file, bool given, std::ostream& err);

// {"fields":[...]}: every field the plan's results may carry beside mote,
// timestamp and epoch; "null" without a plan.
std::string results_json(const std::optional<query_file::Plan>& plan);

}  // namespace brelo_ctl
