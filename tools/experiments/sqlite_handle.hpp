#pragma once
// A small owner of an SQLite connection and of prepared statements, for the
// cluster tools: errors become std::runtime_error with SQLite's message.

#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>

namespace experiments {

class Database {
 public:
  // Opens (creating when `create`) the file; throws when it cannot.
  Database(const std::filesystem::path& file, bool create);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* handle() const { return db_; }
  // Runs statements that return no rows.
  void execute(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(const Database& db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void bind(int index, const std::string& text);
  // Steps to the next row; false when there is none.
  bool next();
  std::string text(int column) const;
  bool is_null(int column) const;
  int columns() const { return sqlite3_column_count(statement_); }
  sqlite3_stmt* raw() const { return statement_; }
  // Ready to run again with new values.
  void reset();

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

// Quotes an SQL identifier or schema name: "name" with inner quotes doubled.
std::string quoted_name(const std::string& name);

}  // namespace experiments
