#include "batch/sqlite_statement.h"

#include <sqlite3.h>

namespace qf {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

SqliteStatement& SqliteStatement::reset() {
  sqlite3_reset(statement_);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::bindOrNull(int index, const std::optional<std::string>& text) {
  if (text) return bind(index, std::string_view(*text));
  sqlite3_bind_null(statement_, index);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, long long value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bindBytes(int index, std::string_view bytes) {
  sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement::Step SqliteStatement::step() {
  if (!statement_) return Step::kFailed;
  switch (sqlite3_step(statement_)) {
    case SQLITE_ROW:
      return Step::kRow;
    case SQLITE_DONE:
      return Step::kDone;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Step::kBusy;
    default:
      return Step::kFailed;
  }
}

std::string_view SqliteStatement::textView(int column) const {
  const auto* chars = sqlite3_column_text(statement_, column);
  if (!chars) return {};
  return {reinterpret_cast<const char*>(chars),
          static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

std::string_view SqliteStatement::bytesView(int column) const {
  const void* bytes = sqlite3_column_blob(statement_, column);
  if (!bytes) return {};
  return {static_cast<const char*>(bytes),
          static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

std::optional<std::string> SqliteStatement::optionalText(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return text(column);
}

long long SqliteStatement::number(int column) const {
  return sqlite3_column_int64(statement_, column);
}

bool executeSql(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace qf
