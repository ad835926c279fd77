#include "ctl/sweep_runner.hpp"

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "ctl/sweep_run.hpp"
#include "ctl/verbs.hpp"
#include "experiments/experiment_file.hpp"
#include "experiments/results_db.hpp"
#include "experiments/run_list.hpp"

namespace brelo_ctl {
namespace {
using experiments::RunSetup;

constexpr const char* program = "brelo-ctl";

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");
void on_interrupt(int) { interrupted.store(true); }

// Ctrl-C and SIGTERM (a batch system's time limit) stop the sweep in order
// while this lives.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// A folder for the runs' statistics files, removed with everything in it.
class ScratchFolder {
 public:
  bool create(std::string& why) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brelo-sweep-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      why = "cannot create a folder in " + pattern;
      return false;
    }
    path_ = pattern;
    return true;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string duration_text(double seconds) {
  char text[32];
  if (seconds < 90) {
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  } else if (seconds < 5400) {
    std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
  } else {
    std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  }
  return text;
}

class Sweep {
 public:
  Sweep(const SweepRequest& request, std::ostream& err) : request_(request), err_(err) {}

  int run() {
    std::ifstream in(request_.file);
    if (!in) {
      err_ << program << ": cannot read " << request_.file << "\n";
      return EXIT_USAGE;
    }
    std::stringstream text;
    text << in.rdbuf();
    experiments::ExperimentParse parsed = experiments::parse_experiment(text.str(), request_.file);
    for (const std::string& e : parsed.errors) err_ << e << "\n";
    if (!parsed.errors.empty()) {
      err_ << parsed.errors.size() << (parsed.errors.size() == 1 ? " error" : " errors")
           << "; nothing was run.\n";
      return EXIT_USAGE;
    }
    const std::vector<RunSetup> all = experiments::expand(parsed.experiment);
    std::string why;
    const std::string path = request_.database.value_or(experiments::default_database_path(request_.file));
    db_ = experiments::ResultsDb::open(path, request_.file, experiments::text_hash(text.str()), why);
    if (!db_) {
      err_ << program << ": " << why << "\n";
      return EXIT_USAGE;
    }
    const std::set<std::string> recorded = db_->recorded();
    std::size_t share = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (static_cast<int>(i % static_cast<std::size_t>(request_.of)) != request_.task) continue;
      ++share;
      if (recorded.count(all[i].id) == 0) pending_.push_back(&all[i]);
    }
    err_ << program << ": " << share << (share == 1 ? " run" : " runs");
    if (request_.of > 1) err_ << " (task " << request_.task << " of " << request_.of << ")";
    err_ << ", " << share - pending_.size() << " already in " << path << ", " << pending_.size()
         << " to run, " << request_.jobs << " at a time\n";
    if (pending_.empty()) return EXIT_DONE;
    if (!scratch_.create(why)) {
      err_ << program << ": " << why << "\n";
      return EXIT_CONNECTION;
    }
    settings_ = {.experiment = parsed.experiment.name,
                 .brelo = request_.brelo,
                 .scratch = scratch_.path(),
                 .timeout = request_.timeout};
    return work();
  }

 private:
  int work() {
    InterruptGuard guard;
    std::vector<std::thread> workers;
    const int jobs = std::min<int>(request_.jobs, static_cast<int>(pending_.size()));
    for (int j = 0; j < jobs; ++j) workers.emplace_back([this] { take_runs(); });
    {
      std::unique_lock lock(mutex_);
      while (finished_workers_ < jobs) {
        draw_progress();
        changed_.wait_for(lock, std::chrono::milliseconds(250));
      }
      clear_progress();
    }
    for (std::thread& w : workers) w.join();

    err_ << program << ": " << done_ << " done, " << failed_ << " failed";
    if (interrupted.load() || fatal_) {
      const std::size_t left = pending_.size() - done_ - failed_ - elsewhere_;
      err_ << ", " << left << " not run";
      if (!fatal_) err_ << " (interrupted; the same command goes on where this stopped)";
    }
    err_ << "\n";
    if (fatal_) return EXIT_CONNECTION;
    if (interrupted.load()) return EXIT_INTERRUPTED;
    return failed_ == 0 ? EXIT_DONE : EXIT_CONNECTION;
  }

  // A worker: the next pending run until none is left or the sweep stops.
  void take_runs() {
    for (;;) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= pending_.size() || interrupted.load() || fatal_.load()) break;
      if (db_->has(pending_[index]->id)) {
        // A second sweep on this database did it meanwhile.
        std::lock_guard lock(mutex_);
        ++elsewhere_;
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        ++running_;
      }
      SweepRunOutcome outcome = sweep_run(*pending_[index], settings_, interrupted);
      // A run that failed as the sweep was being stopped was likely cut off
      // by the same signal (a batch system signals every process of a job):
      // it runs again next time rather than being recorded as failed.
      if (!outcome.run.done && interrupted.load()) outcome.interrupted = true;
      std::string why;
      using Recorded = experiments::ResultsDb::Recorded;
      const Recorded kept = outcome.interrupted
                                ? Recorded::already
                                : db_->record(outcome.run, outcome.results, outcome.delivery, why);
      std::lock_guard lock(mutex_);
      --running_;
      if (kept == Recorded::failed) {
        say(std::string(program) + ": cannot write run " + outcome.run.run_id + " to the database: " + why);
        fatal_ = true;
      } else if (kept == Recorded::already && !outcome.interrupted) {
        say(std::string(program) + ": " + outcome.run.run_id +
            " was recorded meanwhile by another sweep; kept that");
        ++elsewhere_;
      } else if (!outcome.interrupted) {
        finished(outcome.run);
      }
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ++finished_workers_;
    changed_.notify_all();
  }

  // Counts a recorded run and tells of it (under mutex_).
  void finished(const experiments::RunRow& run) {
    wall_of_finished_ += run.wall_seconds;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", run.wall_seconds);
    if (run.done) {
      ++done_;
      // A terminal has the bar; a log gets a line per run.
      if (!request_.progress) say(std::string(program) + ": done   " + run.run_id + " (" + seconds + ")");
      return;
    }
    ++failed_;
    // Its first line that is not a warning says why.
    std::string why;
    std::istringstream lines(run.error_output);
    for (std::string line; std::getline(lines, line);) {
      if (line.find(": warning: ") != std::string::npos) continue;
      why = line;
      break;
    }
    say(std::string(program) + ": failed " + run.run_id + " (exit status " + std::to_string(run.exit_status) +
        "): " + why);
  }

  // A line above the progress bar (under mutex_).
  void say(const std::string& line) {
    clear_progress();
    err_ << line << "\n" << std::flush;
  }

  void draw_progress() {
    if (!request_.progress) return;
    const std::size_t total = pending_.size();
    const std::size_t finished = done_ + failed_ + elsewhere_;
    constexpr int width = 30;
    const int filled = static_cast<int>(width * finished / total);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '.');
    std::string left = "time left unknown";
    if (done_ + failed_ > 0) {
      // Runs take about as long as those done so far; `jobs` go at once.
      const double per_run = wall_of_finished_ / static_cast<double>(done_ + failed_);
      const double remaining = per_run * static_cast<double>(total - finished) / request_.jobs;
      left = "about " + duration_text(remaining) + " left";
    }
    char line[200];
    std::snprintf(line, sizeof line, "\r[%s] %zu/%zu done, %zu failed, %d running, %s\033[K", bar.c_str(),
                  done_, total, failed_, running_, left.c_str());
    err_ << line << std::flush;
    bar_visible_ = true;
  }

  void clear_progress() {
    if (!bar_visible_) return;
    err_ << "\r\033[K" << std::flush;
    bar_visible_ = false;
  }

  const SweepRequest& request_;
  std::ostream& err_;
  std::unique_ptr<experiments::ResultsDb> db_;
  std::vector<const RunSetup*> pending_;
  SweepRunSettings settings_;
  ScratchFolder scratch_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> fatal_{false};
  std::mutex mutex_;  // guards what follows and err_
  std::condition_variable changed_;
  std::size_t done_ = 0;
  std::size_t failed_ = 0;
  std::size_t elsewhere_ = 0;  // recorded by another sweep meanwhile
  int running_ = 0;
  int finished_workers_ = 0;
  double wall_of_finished_ = 0;
  bool bar_visible_ = false;
};
}  // namespace

int run_sweep(const SweepRequest& request, std::ostream& err) { return Sweep(request, err).run(); }

}  // namespace brelo_ctl
