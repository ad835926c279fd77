#include "ctl/view_facts.hpp"

#include <fstream>
#include <set>
#include <sstream>

#include "ctl/verb.hpp"
#include "lib/json.hpp"
#include "protocol/radio_models.hpp"
#include "topology/placement.hpp"
#include "view/display_events.hpp"

namespace brelo_ctl {
namespace {
std::string number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}
}  // namespace

void SimulationFacts::initial(const ctl::VarnixInitEvent& init) {
  {
    std::lock_guard lock(mutex_);
    motes_ = init.numMotes;
    radio_model_ = protocol::radio_model_name(init.radioModel);
    rate_ = init.rate / 1000.0;
    known_ = true;
  }
  known_changed_.notify_all();
}

void SimulationFacts::reached(int64_t time) {
  std::lock_guard lock(mutex_);
  time_ = time;
}

std::string SimulationFacts::json(double rate_set, const std::string& positions,
                                  const std::string& results) {
  std::unique_lock lock(mutex_);
  known_changed_.wait_for(lock, std::chrono::seconds(2), [this] { return known_; });
  brelo_host::JsonObject info;
  info.raw("motes", std::to_string(motes_))
      .text("radio_model", radio_model_)
      .raw("rate", number(rate_set >= 0 ? rate_set : rate_))
      .raw("time", brelo_view::seconds_json(time_))
      .raw("positions", positions)
      .raw("results", results);
  return info.str();
}

std::optional<std::string> positions_json(const std::string& file, bool given, std::ostream& err) {
  if (file.empty()) return "null";
  std::ifstream in(file);
  if (!in) {
    if (!given) return "null";
    err << program << ": cannot read " << file << "\n";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  topology::PlacementRead read = topology::read_placement(text.str(), file);
  for (const topology::FileError& e : read.errors) err << topology::format(e) << "\n";
  if (!read.errors.empty()) return given ? std::nullopt : std::optional<std::string>("null");
  std::string json = "[";
  for (const topology::Position& p : read.positions) {
    json += (json.size() > 1 ? ",[" : "[") + number(p.x) + "," + number(p.y) + "]";
  }
  return json + "]";
}

std::string results_json(const std::optional<query_file::Plan>& plan) {
  if (!plan) return "null";
  std::string json = "{\"fields\":[";
  std::set<std::string> seen = {"", "mote", "timestamp", "epoch"};
  for (const query_file::ResultLayout& r : plan->results) {
    for (const std::string& name : r.layout) {
      if (!seen.insert(name).second) continue;
      json += (json.back() == '[' ? "" : ",") + brelo_host::json_string(name);
    }
  }
  return json + "]}";
}

}  // namespace brelo_ctl
