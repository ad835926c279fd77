#include "ctl/query_runner.hpp"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "ctl/delivery_report.hpp"
#include "ctl/interrupt_guard.hpp"
#include "ctl/run_record.hpp"
#include "ctl/stats_tables.hpp"
#include "ctl/verbs.hpp"
#include "lib/session.hpp"
#include "protocol/operator_messages.hpp"
#include "protocol/operators.hpp"
#include "queryfile/collect_tree.hpp"
#include "queryfile/query_compile.hpp"

namespace brelo_ctl {
namespace {
using namespace query_file;

constexpr const char* program = "brelo-ctl";

std::string seconds_text(int64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.8f", static_cast<double>(ticks) / TICKS_PER_SECOND);
  return text;
}

void list_messages(const Plan& plan, std::ostream& out) {
  out << plan.messages.size() << " operator messages for " << plan.motes << " motes, until "
      << plan.until << " s:\n";
  for (const TimedMessage& m : plan.messages) {
    char head[96];
    std::snprintf(head, sizeof head, "%12s s  mote %-3u line %-4d %-13s", seconds_text(m.time).c_str(),
                  m.to, m.line, protocol::command_name(m.message.msg_type));
    out << head;
    for (uint8_t b : operator_messages::bytes_of(m.message)) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b);
      out << hex;
    }
    out << "\n";
  }
  std::vector<uint16_t> direct;
  for (const TimedMessage& m : plan.messages) {
    if (m.direct && (direct.empty() || direct.back() != m.to)) direct.push_back(m.to);
  }
  std::sort(direct.begin(), direct.end());
  direct.erase(std::unique(direct.begin(), direct.end()), direct.end());
  if (!direct.empty()) {
    out << "mote 0 does not reach " << (direct.size() == 1 ? "mote " : "motes ")
        << query_file::mote_ranges(direct)
        << ": their messages go straight to their radios, not through mote 0\n";
  }
}

bool report_errors(const std::vector<Diagnostic>& errors, std::ostream& err) {
  for (const Diagnostic& d : errors) err << format(d) << "\n";
  if (!errors.empty()) {
    err << errors.size() << (errors.size() == 1 ? " error" : " errors")
        << "; nothing was sent.\n";
  }
  return errors.empty();
}

// The file with the command line's settings, read and checked.
std::optional<QueryFile> read_file(const RunRequest& request, std::ostream& err) {
  std::ifstream in(request.file);
  if (!in) {
    err << program << ": cannot read " << request.file << "\n";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  ParseResult parsed = parse(text.str(), request.file);
  std::vector<Diagnostic> errors = parsed.errors;
  QueryFile& file = parsed.file;
  if (request.motes) {
    file.motes = request.motes;
    file.motes_line = 0;
  }
  if (request.until) file.until = request.until;
  if (request.seed) file.seed = request.seed;
  if (request.topology) {
    file.topology = *request.topology;
    file.topology_line = 0;
  }
  for (const std::string& a : request.adc) {
    for (auto& e : parse_adc_option(a, "--adc", file)) errors.push_back(e);
  }
  for (const std::string& l : request.links) {
    for (auto& e : parse_link_option(l, "--link", file)) errors.push_back(e);
  }
  if (!report_errors(errors, err)) return std::nullopt;
  return file;
}

// The progress line on standard error while a run goes on (a terminal only).
class Progress {
 public:
  Progress(std::ostream& err, bool shown, int64_t until)
      : err_(err), enabled_(shown), until_(until), last_(std::chrono::steady_clock::now()) {}

  void update(int64_t now, int64_t events) {
    if (!enabled_) return;
    auto wall = std::chrono::steady_clock::now();
    double real = std::chrono::duration<double>(wall - last_).count();
    if (real < 0.2) return;
    double virtual_seconds = static_cast<double>(now) / TICKS_PER_SECOND;
    double speed = (virtual_seconds - last_virtual_) / real;
    double rate = static_cast<double>(events - last_events_) / real;
    char line[128];
    std::snprintf(line, sizeof line, "\r virtual %.1f of %.0f s | %.0f events/s | %.1fx real time\033[K",
                  virtual_seconds, static_cast<double>(until_) / TICKS_PER_SECOND, rate, speed);
    err_ << line << std::flush;
    visible_ = true;
    last_ = wall;
    last_virtual_ = virtual_seconds;
    last_events_ = events;
  }

  void clear() {
    if (!visible_) return;
    err_ << "\r\033[K" << std::flush;
    visible_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  int64_t until_;
  bool visible_ = false;
  std::chrono::steady_clock::time_point last_;
  double last_virtual_ = 0;
  int64_t last_events_ = 0;
};

class Runner {
 public:
  Runner(const RunRequest& request, std::ostream& out, std::ostream& err)
      : request_(request), out_(out), err_(err), session_(request.timeout),
        sink_(brelo_host::make_result_sink(request.format, out)) {}
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
  // The temporary statistics file goes however the run ended.
  ~Runner() {
    std::error_code ignored;
    if (stats_file_is_temporary_) std::filesystem::remove(stats_file_, ignored);
  }

  int run() {
    std::optional<QueryFile> file = read_file(request_, err_);
    if (!file) return EXIT_USAGE;
    int64_t origin = 0;
    if (request_.attach) {
      // Times in the file count from now.
      if (!session_.attach(request_.command_port)) return failure();
      auto count = session_.status();
      if (!count) return failure();
      origin = count->time;
      file->motes = count->totalMotes;  // the network is the one running
      file->motes_line = 0;
      if (file->random_adc) {
        err_ << request_.file << ": warning: 'adc random' needs a simulation brelo-ctl starts"
             << " (brelo -a=random); the running one keeps its ADC model\n";
      }
      if (!file->topology.empty()) {
        err_ << request_.file << ": warning: a topology needs a simulation brelo-ctl starts"
             << " (brelo -rf=FILE); the running one keeps its links\n";
        file->topology.clear();
      }
    }
    CompileResult compiled = compile(*file, origin);
    for (const Diagnostic& w : compiled.warnings) {
      err_ << w.file << ":" << w.line << ": warning: " << w.text << "\n";
    }
    if (!report_errors(compiled.errors, err_)) return EXIT_USAGE;
    const Plan& plan = compiled.plan;
    if (request_.check_only) {
      out_ << request_.file << ": no errors; ";
      list_messages(plan, out_);
      for (const CollectPlan& c : plan.collects) out_ << describe(c);
      return EXIT_DONE;
    }
    const int64_t until = origin + static_cast<int64_t>(plan.until * TICKS_PER_SECOND);
    if (request_.out_dir && !open_record(plan)) return EXIT_USAGE;

    InterruptGuard guard;
    int status = EXIT_DONE;
    if (!request_.attach) {
      brelo_host::SimulationSettings settings = brelo_host::settings_for(plan);
      settings.rate = request_.rate;
      settings.fast = request_.fast;
      // Absolute, so that it names the same file wherever brelo runs.
      if (request_.trace_file) {
        settings.trace_file = std::filesystem::absolute(*request_.trace_file).string();
      }
      settings.program = request_.brelo;
      settings.event_mask = ctl::AM_UARTMSGSENTEVENT;  // results only
      if (request_.port_given) settings.command_port = request_.command_port;
      if (request_.energy_figures) {
        settings.energy_file = std::filesystem::absolute(*request_.energy_figures).string();
      }
      if ((request_.stats || request_.energy) && !choose_stats_file()) return EXIT_USAGE;
      settings.stats_file = stats_file_;
      if (!session_.start(settings)) {
        status = failure();
        // One that never opened its ports is simply killed.
        if (!session_.started()) return status;
      } else {
        err_ << program << ": brelo runs on ports " << session_.command_port() << " (commands) and "
             << session_.command_port() + 1 << " (events); watch it with: brelo-ctl --port "
             << session_.command_port() << " watch\n";
      }
    }
    if (record_ && !record_run(plan)) return failure_to_record();
    Progress progress(err_, request_.progress, until);
    if (status == EXIT_DONE && (!session_.apply(plan) || !session_.pump(until, handlers(progress)))) {
      status = failure();
    }
    progress.clear();
    if (!session_.end() && status == EXIT_DONE) status = failure();
    if (request_.progress) err_ << results_ << (results_ == 1 ? " result\n" : " results\n");
    if (status == EXIT_DONE) report_delivery(*file, plan, interrupt_requested() ? last_seen_ : until);
    if (status == EXIT_DONE && !stats_file_.empty()) status = report_statistics();
    return status;
  }

 private:
  brelo_host::PumpHandlers handlers(Progress& progress) {
    brelo_host::PumpHandlers h;
    h.result = [this, &progress](const Result& result) {
      progress.clear();
      sink_->write(result);
      if (record_) record_->results().write(result);
      ++results_;
      delivered_.add(result);
      last_seen_ = std::max(last_seen_, result.time);
    };
    h.progress = [this, &progress](int64_t now, int64_t events) {
      last_seen_ = std::max(last_seen_, now);
      progress.update(now, events);
    };
    h.stop = [] { return interrupt_requested(); };
    return h;
  }

  // Did every source deliver, up to `end` (ticks)?
  void report_delivery(const QueryFile& file, const Plan& plan, int64_t end) {
    std::vector<Delivery> summary = delivered_.summary(delivery_sources(file, plan), plan,
                                                       session_.message_times(), end);
    std::string why;
    if (record_ && !record_->write_delivery(summary, why)) err_ << program << ": " << why << "\n";
    if (summary.empty()) return;
    print_delivery_table(summary, err_);
    if (request_.format == brelo_host::ResultFormat::json) out_ << delivery_json(summary) << "\n";
  }

  // Where brelo writes its statistics: stats.json in the --out folder, or
  // a temporary file.
  bool choose_stats_file() {
    if (request_.out_dir) {
      stats_file_ = std::filesystem::absolute(*request_.out_dir + "/stats.json").string();
      return true;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/brelo-stats-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
      err_ << program << ": --stats: cannot create a temporary file in " << pattern << "\n";
      return false;
    }
    ::close(fd);
    stats_file_ = pattern;
    stats_file_is_temporary_ = true;
    return true;
  }

  // The tables --stats and --energy ask for, from the file brelo wrote.
  int report_statistics() {
    std::string why;
    std::optional<brelo_host::JsonValue> stats = read_statistics(stats_file_, why);
    if (!stats) {
      err_ << program << ": no statistics: " << why << "\n";
      return EXIT_CONNECTION;
    }
    if (request_.stats) print_statistics_table(*stats, err_);
    if (request_.energy) print_energy_table(*stats, err_);
    return EXIT_DONE;
  }

  // The folder of --out, with the files that are known before the run.
  bool open_record(const Plan& plan) {
    std::string why;
    record_ = RunRecord::create(*request_.out_dir, why);
    if (record_ && record_->keep_copy(request_.file, why) &&
        (plan.topology.empty() || record_->keep_copy(plan.topology, why))) {
      return true;
    }
    err_ << program << ": --out: " << why << "\n";
    return false;
  }

  bool record_run(const Plan& plan) {
    RunRecord::Facts facts;
    facts.command_port = session_.command_port();
    if (!request_.attach) {
      facts.brelo_command = session_.command_line();
      facts.seed = plan.seed;
    }
    return record_->write_run(facts, record_error_);
  }

  int failure_to_record() {
    err_ << program << ": --out: " << record_error_ << "\n";
    session_.end();
    return EXIT_USAGE;
  }

  // Reports what went wrong in the session; the exit status.
  int failure() {
    using Kind = brelo_host::SessionError::Kind;
    const brelo_host::SessionError& error = session_.error();
    switch (error.kind) {
      case Kind::not_running:
        err_ << program << ": no simulator is listening on 127.0.0.1:" << session_.command_port()
             << " (start brelo, or leave out --attach to let brelo-ctl start one)\n";
        return EXIT_NOT_RUNNING;
      case Kind::start_failed: err_ << program << ": " << error.text << "\n"; break;
      case Kind::unclean_end: err_ << program << ": the simulation did not end cleanly\n"; break;
      default: err_ << program << ": the simulation went away (" << error.text << ")\n"; break;
    }
    return EXIT_CONNECTION;
  }

  const RunRequest& request_;
  std::ostream& out_;
  std::ostream& err_;
  brelo_host::Session session_;
  std::unique_ptr<brelo_host::ResultSink> sink_;
  std::unique_ptr<RunRecord> record_;  // with --out
  std::string record_error_;
  int64_t results_ = 0;
  DeliveryCount delivered_;
  int64_t last_seen_ = 0;  // the latest virtual time the run was seen at
  std::string stats_file_;  // brelo's -stats= file; empty: none
  bool stats_file_is_temporary_ = false;
};
}  // namespace

int run_queries(const RunRequest& request, std::ostream& out, std::ostream& err) {
  return Runner(request, out, err).run();
}

std::optional<Plan> plan_of(const RunRequest& request, std::ostream& err) {
  std::optional<QueryFile> file = read_file(request, err);
  if (!file) return std::nullopt;
  CompileResult compiled = compile(*file);
  for (const Diagnostic& w : compiled.warnings) {
    err << w.file << ":" << w.line << ": warning: " << w.text << "\n";
  }
  if (!report_errors(compiled.errors, err)) return std::nullopt;
  return std::move(compiled.plan);
}

}  // namespace brelo_ctl
