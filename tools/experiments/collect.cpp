#include "experiments/collect.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "experiments/sqlite_handle.hpp"

namespace experiments {
namespace fs = std::filesystem;

namespace {

// K of "part_<K>.sqlite", or -1 for any other name.
long part_number(const std::string& name) {
  const std::string prefix = "part_", suffix = ".sqlite";
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return -1;
  std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  return std::stol(digits);
}

bool has_table(const Database& db, const std::string& table) {
  Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  query.bind(1, table);
  return query.next();
}

std::optional<std::string> meta_value(const Database& db, const std::string& key) {
  if (!has_table(db, "meta")) return std::nullopt;
  Statement query(db, "SELECT value FROM meta WHERE key = ?");
  query.bind(1, key);
  if (!query.next()) return std::nullopt;
  return query.text(0);
}

std::vector<std::string> run_ids_of(const Database& db) {
  std::vector<std::string> ids;
  if (!has_table(db, "runs")) return ids;
  Statement query(db, "SELECT run_id FROM runs");
  while (query.next()) ids.push_back(query.text(0));
  return ids;
}

std::vector<std::string> columns_of(const Database& db, const std::string& table) {
  std::vector<std::string> columns;
  Statement query(db, "SELECT name FROM pragma_table_info(?)");
  query.bind(1, table);
  while (query.next()) columns.push_back(query.text(0));
  return columns;
}

// The tables whose rows belong to a run (they have a run_id column), the
// runs table last: a run's row is copied only after everything it owns.
std::vector<std::string> run_tables(const Database& db) {
  std::vector<std::string> tables;
  Statement query(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
                      "ORDER BY name = 'runs', name");
  while (query.next()) {
    std::string table = query.text(0);
    auto columns = columns_of(db, table);
    if (std::find(columns.begin(), columns.end(), "run_id") != columns.end()) tables.push_back(table);
  }
  return tables;
}

// Gives an empty database the tables and indexes of a part.
void copy_schema(const Database& from, Database& to) {
  Statement query(from, "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%' "
                        "ORDER BY type <> 'table', rowid");
  while (query.next()) to.execute(query.text(0));
}

std::string joined(const std::vector<std::string>& names, const std::string& between) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : between) + name;
  return out;
}

// Copies from `part` the rows of `table` that belong to runs the database
// does not hold yet; they are taken column by column with their own types.
void copy_rows(const Database& part, Database& to, const std::string& table,
               const std::set<std::string>& already) {
  auto columns = columns_of(part, table);
  std::vector<std::string> quoted;
  for (const auto& column : columns) quoted.push_back(quoted_name(column));
  auto run_column = std::find(columns.begin(), columns.end(), "run_id") - columns.begin();
  Statement read(part, "SELECT " + joined(quoted, ", ") + " FROM " + quoted_name(table));
  std::string places = joined(std::vector<std::string>(columns.size(), "?"), ", ");
  Statement write(to, "INSERT INTO " + quoted_name(table) + " (" + joined(quoted, ", ") + ") VALUES (" +
                          places + ")");
  while (read.next()) {
    if (already.count(read.text(static_cast<int>(run_column))) != 0) continue;
    for (int i = 0; i < read.columns(); ++i) {
      sqlite3_bind_value(write.raw(), i + 1, sqlite3_column_value(read.raw(), i));
    }
    write.next();
    write.reset();
  }
}

void copy_meta(const Database& part, Database& to) {
  if (!has_table(part, "meta")) return;
  Statement read(part, "SELECT key, value FROM meta");
  Statement write(to, "INSERT OR IGNORE INTO meta (key, value) VALUES (?, ?)");
  while (read.next()) {
    sqlite3_bind_value(write.raw(), 1, sqlite3_column_value(read.raw(), 0));
    sqlite3_bind_value(write.raw(), 2, sqlite3_column_value(read.raw(), 1));
    write.next();
    write.reset();
  }
}

}  // namespace

std::vector<fs::path> find_parts(const fs::path& shared_dir) {
  std::vector<std::pair<long, fs::path>> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(shared_dir, error)) {
    long k = part_number(entry.path().filename().string());
    if (k >= 0) found.emplace_back(k, entry.path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> parts;
  for (auto& [k, path] : found) parts.push_back(path);
  return parts;
}

CollectOutcome collect_parts(const ClusterPlan& plan, const fs::path& shared_dir, const fs::path& database) {
  CollectOutcome outcome;
  outcome.parts = find_parts(shared_dir);

  std::set<std::string> already;
  if (fs::exists(database)) {
    Database target(database, false);
    auto hash = meta_value(target, "experiment_hash");
    if (hash && *hash != plan.experiment_hash) {
      outcome.problems.push_back(database.string() + " holds runs of another experiment file");
    }
    for (auto& id : run_ids_of(target)) already.insert(id);
  }

  std::map<std::string, std::vector<std::string>> where;  // run id -> the parts holding it
  for (const auto& path : outcome.parts) {
    try {
      Database part(path, false);
      auto hash = meta_value(part, "experiment_hash");
      if (!hash || *hash != plan.experiment_hash) {
        outcome.problems.push_back(path.filename().string() + " is of another experiment file" +
                                   (hash ? "" : " (it has no experiment_hash)"));
        continue;
      }
      for (auto& id : run_ids_of(part)) where[id].push_back(path.filename().string());
    } catch (const std::exception& error) {
      outcome.problems.push_back(std::string("cannot read ") + error.what());
    }
  }

  std::set<std::string> planned(plan.run_ids.begin(), plan.run_ids.end());
  for (const auto& id : plan.run_ids) {
    if (already.count(id) == 0 && where.count(id) == 0) outcome.missing.push_back(id);
  }
  for (const auto& [id, parts] : where) {
    if (parts.size() > 1) outcome.doubled.push_back(id + " (in " + joined(parts, ", ") + ")");
    if (planned.count(id) == 0) outcome.unknown.push_back(id + " (in " + joined(parts, ", ") + ")");
  }
  if (!outcome.missing.empty() || !outcome.doubled.empty() || !outcome.unknown.empty() ||
      !outcome.problems.empty()) {
    return outcome;
  }

  Database target(database, true);
  target.execute("BEGIN IMMEDIATE");
  try {
    for (const auto& path : outcome.parts) {
      Database part(path, false);
      if (!has_table(target, "runs")) copy_schema(part, target);
      for (const auto& table : run_tables(part)) copy_rows(part, target, table, already);
      copy_meta(part, target);
    }
    target.execute("COMMIT");
  } catch (...) {
    target.execute("ROLLBACK");
    throw;
  }
  outcome.already = already.size();
  for (const auto& [id, parts] : where) outcome.copied += already.count(id) == 0 ? 1 : 0;
  outcome.merged = true;
  return outcome;
}

std::string describe_refusal(const CollectOutcome& outcome) {
  std::ostringstream out;
  auto list = [&](const char* what, const std::vector<std::string>& runs) {
    if (runs.empty()) return;
    out << runs.size() << " run" << (runs.size() == 1 ? "" : "s") << " " << what << ":\n";
    for (const auto& run : runs) out << "  " << run << "\n";
  };
  for (const auto& problem : outcome.problems) out << problem << "\n";
  list("missing from every part", outcome.missing);
  list("in more than one part", outcome.doubled);
  list("not of this experiment", outcome.unknown);
  return out.str();
}

}  // namespace experiments
