#include "ctl/sweep_run.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "ctl/build_info.hpp"
#include "ctl/delivery_report.hpp"
#include "ctl/run_record.hpp"
#include "ctl/verbs.hpp"
#include "lib/json.hpp"
#include "lib/json_reader.hpp"
#include "lib/ports.hpp"
#include "lib/session.hpp"
#include "queryfile/delivery.hpp"

namespace brelo_ctl {
namespace {
using namespace query_file;
using experiments::RunSetup;

constexpr const char* program = "brelo-ctl";

// Ports handed to this sweep's runs and not yet given back: two runs that
// drew the same free pair at once would otherwise both start on it.
class PortBook {
 public:
  uint16_t take() {
    std::lock_guard lock(mutex_);
    for (;;) {
      const uint16_t port = brelo_host::free_port_pair();
      if (taken_.insert(port).second) return port;
    }
  }
  void give_back(uint16_t port) {
    std::lock_guard lock(mutex_);
    taken_.erase(port);
  }

 private:
  std::mutex mutex_;
  std::set<uint16_t> taken_;
};
PortBook ports;

std::optional<std::string> read_text(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The query file with the run's parameters: read, overridden, compiled.
struct Prepared {
  QueryFile file;
  CompileResult compiled;
};

std::optional<Prepared> prepare(const RunSetup& setup, std::ostream& err) {
  std::optional<std::string> text = read_text(setup.query);
  if (!text) {
    err << program << ": cannot read " << setup.query << "\n";
    return std::nullopt;
  }
  if (setup.period) {
    // Every sampling period of the file becomes the run's.
    static const std::regex every(R"((^|[^A-Za-z0-9_])every[ \t]+[0-9.]+)");
    if (!std::regex_search(*text, every)) {
      err << setup.query << ": a period is given, but no stream samples 'every' seconds\n";
      return std::nullopt;
    }
    *text = std::regex_replace(*text, every, "$1every " + experiments::number_text(*setup.period));
  }
  ParseResult parsed = parse(*text, setup.query);
  QueryFile& file = parsed.file;
  if (setup.motes) {
    file.motes = setup.motes;
    file.motes_line = 0;
  }
  if (setup.until) file.until = *setup.until;
  if (setup.seed) file.seed = setup.seed;
  if (setup.topology) {
    file.topology = *setup.topology;
    file.topology_line = 0;
  }
  if (setup.link_p && parsed.errors.empty()) {
    if (!file.motes) {
      err << setup.query << ": link_p needs a mote count (give 'motes' in the file or the experiment)\n";
      return std::nullopt;
    }
    // Every link, both ways, replacing what the file sets.
    file.links.clear();
    for (int from = 0; from < *file.motes; ++from) {
      for (int to = 0; to < *file.motes; ++to) {
        if (from != to) {
          file.links.push_back({0, static_cast<uint16_t>(from), static_cast<uint16_t>(to), *setup.link_p});
        }
      }
    }
  }
  Prepared prepared{std::move(file), {}};
  std::vector<Diagnostic> errors = std::move(parsed.errors);
  if (errors.empty()) {
    prepared.compiled = compile(prepared.file);
    for (const Diagnostic& w : prepared.compiled.warnings)
      err << w.file << ":" << w.line << ": warning: " << w.text << "\n";
    errors = prepared.compiled.errors;
  }
  for (const Diagnostic& d : errors) err << format(d) << "\n";
  if (!errors.empty()) return std::nullopt;
  return prepared;
}

std::string session_failure(const brelo_host::SessionError& error) {
  using Kind = brelo_host::SessionError::Kind;
  switch (error.kind) {
    case Kind::start_failed:
      return error.text;
    case Kind::unclean_end:
      return "the simulation did not end cleanly";
    default:
      return "the simulation went away (" + error.text + ")";
  }
}

experiments::ResultRow result_row(const Result& r) {
  experiments::ResultRow row;
  row.time = static_cast<double>(r.time) / TICKS_PER_SECOND;
  if (r.mote) row.mote = *r.mote;
  if (r.timestamp) row.timestamp = *r.timestamp;
  if (r.epoch) row.epoch = *r.epoch;
  brelo_host::JsonObject fields;
  for (const auto& [name, value] : r.fields) fields.raw(name, std::to_string(value));
  row.fields = fields.str();
  return row;
}

class Run {
 public:
  Run(const RunSetup& setup, const SweepRunSettings& settings, const std::atomic<bool>& stop)
      : setup_(setup), settings_(settings), stop_(stop), session_(settings.timeout) {}

  SweepRunOutcome go() {
    const auto started = std::chrono::steady_clock::now();
    outcome_.run.run_id = setup_.id;
    outcome_.run.experiment = settings_.experiment;
    outcome_.run.parameters = setup_.parameters;
    outcome_.run.brelo_version = build_version();
    outcome_.run.brelo_commit = build_commit();
    const int status = simulate();
    if (!errors_file_.empty()) {
      errors_ << read_text(errors_file_).value_or("");
      std::error_code ignored;
      std::filesystem::remove(errors_file_, ignored);
    }
    outcome_.run.done = status == EXIT_DONE;
    outcome_.run.exit_status = status;
    outcome_.run.error_output = errors_.str();
    outcome_.run.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!outcome_.run.done) {
      // A failed run's partial data would pass for a sound run's.
      outcome_.results.clear();
      outcome_.delivery.clear();
    }
    if (port_ != 0) ports.give_back(port_);
    return std::move(outcome_);
  }

 private:
  int simulate() {
    std::optional<Prepared> prepared = prepare(setup_, errors_);
    if (!prepared) return EXIT_USAGE;
    const Plan& plan = prepared->compiled.plan;
    outcome_.run.seed = plan.seed;
    const int64_t until = static_cast<int64_t>(plan.until * TICKS_PER_SECOND);

    brelo_host::SimulationSettings sim = brelo_host::settings_for(plan);
    sim.rate = brelo_host::UNLIMITED_RATE;
    sim.fast = setup_.fast.value_or(false);
    sim.program = settings_.brelo;
    sim.event_mask = ctl::AM_UARTMSGSENTEVENT;  // results only
    port_ = ports.take();
    sim.command_port = port_;
    const std::string stats_file = settings_.scratch + "/" + std::to_string(port_) + ".json";
    sim.stats_file = stats_file;
    // Its complaints belong to the run, not to the sweep's terminal.
    errors_file_ = settings_.scratch + "/" + std::to_string(port_) + ".err";
    sim.errors_file = errors_file_;
    std::error_code ignored;
    std::filesystem::remove(stats_file, ignored);
    std::filesystem::remove(errors_file_, ignored);

    DeliveryCount delivered;
    brelo_host::PumpHandlers handlers;
    handlers.result = [&](const Result& r) {
      outcome_.results.push_back(result_row(r));
      delivered.add(r);
    };
    handlers.stop = [this] { return stop_.load(); };

    bool ok = session_.start(sim);
    outcome_.run.command_line = shell_words(session_.command_line());
    if (ok) ok = session_.apply(plan) && session_.pump(until, handlers);
    std::string why = ok ? "" : session_failure(session_.error());
    if (!session_.end() && ok) {
      ok = false;
      why = session_failure(session_.error());
    }
    if (stop_.load()) {
      outcome_.interrupted = true;
      std::filesystem::remove(stats_file, ignored);
      return EXIT_CONNECTION;
    }
    if (!ok) {
      errors_ << program << ": " << why << "\n";
      std::filesystem::remove(stats_file, ignored);
      return EXIT_CONNECTION;
    }
    for (const Delivery& d :
         delivered.summary(delivery_sources(prepared->file, plan), plan, session_.message_times(), until)) {
      outcome_.delivery.push_back({d.mote, d.expected, d.received});
    }
    std::optional<std::string> stats = read_text(stats_file);
    std::filesystem::remove(stats_file, ignored);
    std::string reason;
    std::optional<brelo_host::JsonValue> json = stats ? brelo_host::parse_json(*stats, reason) : std::nullopt;
    const brelo_host::JsonValue* run = json ? json->find("run") : nullptr;
    if (run == nullptr) {
      errors_ << program << ": no statistics from brelo" << (reason.empty() ? "" : ": " + reason) << "\n";
      return EXIT_CONNECTION;
    }
    const brelo_host::JsonValue* ended_by = run->find("ended_by");
    if (ended_by == nullptr || ended_by->text != "time limit") {
      // Stopped by someone else (a signal to the whole job): half a run.
      errors_ << program << ": the simulation ended at " << run->number_at("virtual_seconds")
              << " s, before its time limit\n";
      return EXIT_CONNECTION;
    }
    outcome_.run.statistics = std::move(stats);
    outcome_.run.events = static_cast<int64_t>(run->number_at("events"));
    outcome_.run.virtual_seconds = run->number_at("virtual_seconds");
    return EXIT_DONE;
  }

  const RunSetup& setup_;
  const SweepRunSettings& settings_;
  const std::atomic<bool>& stop_;
  brelo_host::Session session_;
  SweepRunOutcome outcome_;
  std::ostringstream errors_;
  uint16_t port_ = 0;
  std::string errors_file_;  // brelo's standard error
};
}  // namespace

SweepRunOutcome sweep_run(const RunSetup& setup, const SweepRunSettings& settings,
                          const std::atomic<bool>& stop) {
  return Run(setup, settings, stop).go();
}

}  // namespace brelo_ctl
