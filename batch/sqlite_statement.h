#pragma once

#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace qf {

/// A prepared SQLite statement that finalizes itself. A statement that did
/// not prepare (ok() false) fails every step().
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  /// Makes the statement ready to run again; bindings stay.
  SqliteStatement& reset();
  /// Binds the parameter at index (from 1); the text is copied.
  SqliteStatement& bind(int index, std::string_view text);
  SqliteStatement& bindOrNull(int index, const std::optional<std::string>& text);  // nullopt: NULL
  SqliteStatement& bind(int index, long long value);
  SqliteStatement& bindBytes(int index, std::string_view bytes);  // as a blob, copied

  enum class Step { kRow, kDone, kBusy, kFailed };
  Step step();
  /// Runs a statement that returns no rows; true when it finished.
  bool run() { return step() == Step::kDone; }

  /// The columns of the current row (from 0). A view stays valid until the
  /// next step(), reset() or the statement's end; NULL reads as "".
  std::string_view textView(int column) const;
  std::string text(int column) const { return std::string(textView(column)); }
  std::string_view bytesView(int column) const;  // a blob's bytes
  std::optional<std::string> optionalText(int column) const;
  long long number(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};

/// Runs sql (one or more statements, no rows wanted); true when all finished.
bool executeSql(sqlite3* db, const char* sql);

}  // namespace qf
