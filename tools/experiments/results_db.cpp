#include "experiments/results_db.hpp"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

namespace experiments {
namespace {

constexpr const char* schema = R"(
CREATE TABLE IF NOT EXISTS runs(
  run_id TEXT PRIMARY KEY, experiment TEXT, parameters TEXT, seed INTEGER,
  brelo_version TEXT, brelo_commit TEXT, command_line TEXT, status TEXT,
  exit_status INTEGER, error_output TEXT, wall_seconds REAL, events INTEGER,
  virtual_seconds REAL, statistics TEXT, finished_at TEXT);
CREATE TABLE IF NOT EXISTS results(
  run_id TEXT NOT NULL REFERENCES runs(run_id), time REAL, mote INTEGER,
  timestamp INTEGER, epoch INTEGER, fields TEXT);
CREATE INDEX IF NOT EXISTS results_by_run ON results(run_id);
CREATE TABLE IF NOT EXISTS delivery(
  run_id TEXT NOT NULL, mote INTEGER, expected INTEGER, received INTEGER);
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);
)";

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { ::sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { ::sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() { return stmt_; }

  void text(int i, const std::string& s) {
    ::sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
  }
  void integer(int i, std::optional<int64_t> v) {
    if (v) {
      ::sqlite3_bind_int64(stmt_, i, *v);
    } else {
      ::sqlite3_bind_null(stmt_, i);
    }
  }
  void real(int i, std::optional<double> v) {
    if (v) {
      ::sqlite3_bind_double(stmt_, i, *v);
    } else {
      ::sqlite3_bind_null(stmt_, i);
    }
  }
  // Runs it once and makes it ready for the next values.
  bool step() {
    const int rc = ::sqlite3_step(stmt_);
    ::sqlite3_reset(stmt_);
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string now_utc() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The meta value of `key`, or nullopt.
std::optional<std::string> meta(sqlite3* db, const char* key) {
  Statement s(db, "SELECT value FROM meta WHERE key = ?");
  if (!s.ok()) return std::nullopt;
  s.text(1, key);
  if (::sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  const unsigned char* v = ::sqlite3_column_text(s.get(), 0);
  return v == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(v));
}
}  // namespace

std::unique_ptr<ResultsDb> ResultsDb::open(const std::string& path, const std::string& experiment_file,
                                           const std::string& hash, std::string& why) {
  sqlite3* handle = nullptr;
  if (::sqlite3_open(path.c_str(), &handle) != SQLITE_OK) {
    why = "cannot open " + path + ": " + (handle != nullptr ? ::sqlite3_errmsg(handle) : "out of memory");
    ::sqlite3_close(handle);
    return nullptr;
  }
  std::unique_ptr<ResultsDb> db(new ResultsDb(handle));
  // Another process (a second sweep by mistake) waits rather than fails.
  ::sqlite3_busy_timeout(handle, 60000);
  if (!db->exec(schema, why)) {
    why = path + ": " + why;
    return nullptr;
  }
  const std::optional<std::string> stored = meta(handle, "experiment_hash");
  if (stored && *stored != hash) {
    why = path + " holds runs of another experiment, or of another text of " + experiment_file +
          " (its runs would not mean the same); give another --db";
    return nullptr;
  }
  const std::optional<std::string> version = meta(handle, "schema_version");
  if (version && *version != std::to_string(SCHEMA_VERSION)) {
    why = path + " has schema version " + *version + ", not " + std::to_string(SCHEMA_VERSION);
    return nullptr;
  }
  if (!stored) {
    Statement put(handle, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    const std::pair<const char*, std::string> rows[] = {{"experiment_file", experiment_file},
                                                        {"experiment_hash", hash},
                                                        {"schema_version", std::to_string(SCHEMA_VERSION)}};
    for (const auto& [key, value] : rows) {
      put.text(1, key);
      put.text(2, value);
      if (!put.step()) {
        why = path + ": " + ::sqlite3_errmsg(handle);
        return nullptr;
      }
    }
  }
  return db;
}

ResultsDb::~ResultsDb() { ::sqlite3_close(db_); }

bool ResultsDb::exec(const char* sql, std::string& why) {
  char* message = nullptr;
  if (::sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  why = message != nullptr ? message : ::sqlite3_errmsg(db_);
  ::sqlite3_free(message);
  return false;
}

std::set<std::string> ResultsDb::recorded() {
  std::lock_guard lock(mutex_);
  std::set<std::string> ids;
  Statement s(db_, "SELECT run_id FROM runs");
  while (s.ok() && ::sqlite3_step(s.get()) == SQLITE_ROW) {
    ids.insert(reinterpret_cast<const char*>(::sqlite3_column_text(s.get(), 0)));
  }
  return ids;
}

bool ResultsDb::has(const std::string& run_id) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT 1 FROM runs WHERE run_id = ?");
  if (!s.ok()) return false;
  s.text(1, run_id);
  return ::sqlite3_step(s.get()) == SQLITE_ROW;
}

ResultsDb::Recorded ResultsDb::record(const RunRow& run, const std::vector<ResultRow>& results,
                                      const std::vector<DeliveryRow>& delivery, std::string& why) {
  std::lock_guard lock(mutex_);
  if (!exec("BEGIN IMMEDIATE", why)) return Recorded::failed;
  auto fail = [&] {
    why = ::sqlite3_errmsg(db_);
    std::string ignored;
    exec("ROLLBACK", ignored);
    return Recorded::failed;
  };
  {
    Statement s(
        db_,
        "INSERT OR IGNORE INTO runs(run_id, experiment, parameters, seed, brelo_version, brelo_commit,"
        " command_line, status, exit_status, error_output, wall_seconds, events,"
        " virtual_seconds, statistics, finished_at)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s.ok()) return fail();
    s.text(1, run.run_id);
    s.text(2, run.experiment);
    s.text(3, run.parameters);
    s.integer(4, run.seed);
    s.text(5, run.brelo_version);
    s.text(6, run.brelo_commit);
    s.text(7, run.command_line);
    s.text(8, run.done ? "done" : "failed");
    s.integer(9, run.exit_status);
    s.text(10, run.error_output);
    s.real(11, run.wall_seconds);
    s.integer(12, run.events);
    s.real(13, run.virtual_seconds);
    if (run.statistics) {
      s.text(14, *run.statistics);
    } else {
      ::sqlite3_bind_null(s.get(), 14);
    }
    s.text(15, now_utc());
    if (!s.step()) return fail();
    if (::sqlite3_changes(db_) == 0) {
      // Another sweep on this database recorded it meanwhile: keep theirs.
      std::string ignored;
      exec("ROLLBACK", ignored);
      return Recorded::already;
    }
  }
  {
    Statement s(db_,
                "INSERT INTO results(run_id, time, mote, timestamp, epoch, fields) VALUES(?, ?, ?, ?, ?, ?)");
    if (!s.ok()) return fail();
    for (const ResultRow& r : results) {
      s.text(1, run.run_id);
      s.real(2, r.time);
      s.integer(3, r.mote);
      s.integer(4, r.timestamp);
      s.integer(5, r.epoch);
      s.text(6, r.fields);
      if (!s.step()) return fail();
    }
  }
  {
    Statement s(db_, "INSERT INTO delivery(run_id, mote, expected, received) VALUES(?, ?, ?, ?)");
    if (!s.ok()) return fail();
    for (const DeliveryRow& d : delivery) {
      s.text(1, run.run_id);
      s.integer(2, d.mote);
      s.integer(3, d.expected);
      s.integer(4, d.received);
      if (!s.step()) return fail();
    }
  }
  if (!exec("COMMIT", why)) return fail();
  return Recorded::now;
}

std::string default_database_path(const std::string& experiment_file) {
  return std::filesystem::path(experiment_file).replace_extension(".sqlite").string();
}

std::string text_hash(std::string_view text) {
  uint64_t h = 1469598103934665603ULL;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return hex;
}

}  // namespace experiments
