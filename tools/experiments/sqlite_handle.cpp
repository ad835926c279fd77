#include "experiments/sqlite_handle.hpp"

#include <stdexcept>

namespace experiments {

Database::Database(const std::filesystem::path& file, bool create) {
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error(file.string() + ": " + why);
  }
  // Tasks of the same array may still be finishing on a shared folder.
  sqlite3_busy_timeout(db_, 10000);
}

Database::~Database() { sqlite3_close(db_); }

void Database::execute(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string why = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error(why);
  }
}

Statement::Statement(const Database& db, const std::string& sql) : db_(db.handle()) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db_));
  }
}

Statement::~Statement() { sqlite3_finalize(statement_); }

void Statement::bind(int index, const std::string& text) {
  sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

bool Statement::next() {
  int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  throw std::runtime_error(sqlite3_errmsg(db_));
}

std::string Statement::text(int column) const {
  const unsigned char* value = sqlite3_column_text(statement_, column);
  return value != nullptr ? reinterpret_cast<const char*>(value) : "";
}

bool Statement::is_null(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

void Statement::reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string quoted_name(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace experiments
