#pragma once
// The results database of a sweep (SQLite): one row per finished run in
// `runs`, its results in `results`, its per-mote delivery in `delivery`,
// and what experiment it holds in `meta`. docs/experiments.md lists the
// columns.
//
// A run and all its rows are written in one transaction, so a run is either
// wholly in the database or not at all: a sweep that resumes redoes exactly
// the runs missing from `runs`. One object may be shared by threads; writes
// are serialised.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace experiments {

inline constexpr int SCHEMA_VERSION = 1;

struct RunRow {
  std::string run_id;
  std::string experiment;
  std::string parameters;  // JSON object
  uint32_t seed = 0;
  std::string brelo_version;
  std::string brelo_commit;
  std::string command_line;
  bool done = false;  // else failed
  int exit_status = 0;
  std::string error_output;
  double wall_seconds = 0;
  std::optional<int64_t> events;
  std::optional<double> virtual_seconds;
  std::optional<std::string> statistics;  // the statistics JSON
};

struct ResultRow {
  double time = 0;  // virtual seconds
  std::optional<int64_t> mote;
  std::optional<int64_t> timestamp;
  std::optional<int64_t> epoch;
  std::string fields;  // JSON object of name: value
};

struct DeliveryRow {
  int64_t mote = 0;
  std::optional<int64_t> expected;
  std::optional<int64_t> received;
};

class ResultsDb {
 public:
  // Opens (creating when missing) the database at `path` for the
  // experiment file `experiment_file` whose text hashes to `hash`. A
  // database of another experiment, or of another text of it, is refused:
  // its runs would not mean the same. nullopt with the reason in `why`.
  static std::unique_ptr<ResultsDb> open(const std::string& path, const std::string& experiment_file,
                                         const std::string& hash, std::string& why);
  ~ResultsDb();
  ResultsDb(const ResultsDb&) = delete;
  ResultsDb& operator=(const ResultsDb&) = delete;

  // The run ids already recorded.
  std::set<std::string> recorded();
  // Whether `run_id` is recorded (by another sweep, since recorded()).
  bool has(const std::string& run_id);

  // Writes a run with its results and delivery in one transaction. A run
  // already there (another sweep on the same database took it too) is left
  // as it is: a run is never recorded twice.
  enum class Recorded { now, already, failed };
  Recorded record(const RunRow& run, const std::vector<ResultRow>& results,
                  const std::vector<DeliveryRow>& delivery, std::string& why);

 private:
  explicit ResultsDb(sqlite3* db) : db_(db) {}
  bool exec(const char* sql, std::string& why);

  sqlite3* db_;
  std::mutex mutex_;
};

// Where a sweep of `experiment_file` keeps its database unless told:
// beside it, its extension replaced by .sqlite (sweeps/links.exp ->
// sweeps/links.sqlite).
std::string default_database_path(const std::string& experiment_file);

// A hash of an experiment file's text (FNV-1a, 64 bits, as hex).
std::string text_hash(std::string_view text);

}  // namespace experiments
