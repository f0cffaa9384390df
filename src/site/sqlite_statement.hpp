// One prepared statement: prepared once with its connection, then bound,
// stepped and reset for every use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "site/sqlite_connection.hpp"
#include "support/failure.hpp"

struct sqlite3_stmt;

namespace zelvor::site {

class SqliteStatement {
 public:
  // `what` names the statement's job in its failure texts, in the form
  // SqliteConnection::failure takes.
  SqliteStatement(SqliteConnection& connection, std::string_view sql, std::string_view what);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Parameters count from 1. Bound texts and bytes are not copied: they must
  // outlive the step that reads them.
  void bindText(int index, std::string_view text);
  void bindBytes(int index, std::string_view bytes);
  void bindInteger(int index, std::int64_t value);
  // Sizes beyond the largest integer SQLite holds are bound as that integer,
  // which is as good as no limit.
  void bindSize(int index, std::size_t value);
  // NULL for none.
  void bindReal(int index, std::optional<double> value);

  // True with a row to read, false once done; throws the failure text.
  bool step();
  // The bare result code, for callers that handle some failures themselves.
  int tryStep();

  // Columns count from 0.
  std::string columnText(int column) const;
  std::string columnBytes(int column) const;
  // Valid until the next step or reset: for values used at once.
  std::string_view columnBytesView(int column) const;
  std::string_view columnTextView(int column) const;
  bool columnIsNull(int column) const;
  std::int64_t columnInteger(int column) const;
  std::size_t columnSize(int column) const;
  std::optional<double> columnReal(int column) const;
  // None for NULL.
  std::optional<std::string> columnOptionalText(int column) const;

  kelvo::Failure failure() const;

  // Ends the current use: its snapshot or lock and its bound values.
  void reset();

 private:
  void check(int code) const;

  SqliteConnection& connection_;
  sqlite3_stmt* statement_ = nullptr;
  std::string what_;
};

// Resets a statement when its use ends, however it ends, so that no
// half-stepped statement keeps a snapshot open and holds back checkpoints.
class StatementUse {
 public:
  explicit StatementUse(SqliteStatement& statement) : statement_(statement) {}
  ~StatementUse() { statement_.reset(); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

  SqliteStatement* operator->() const { return &statement_; }

 private:
  SqliteStatement& statement_;
};

}  // namespace zelvor::site
