// One connection to PostgreSQL through libpq, its statements prepared on it
// once, every value sent and read in binary form: the reports are bytes, and
// numbers cross without being printed and parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace zelvor::site {

// A statement's result, read by row and column (both from 0).
class PgResult {
 public:
  explicit PgResult(pg_result* result) : result_(result) {}
  ~PgResult();
  PgResult(PgResult&& other) noexcept;
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;
  PgResult& operator=(PgResult&&) = delete;

  std::size_t rows() const;
  std::string bytes(std::size_t row, int column) const;
  // Valid as long as the result: for bytes decoded at once.
  std::string_view bytesView(std::size_t row, int column) const;
  bool isNull(std::size_t row, int column) const;
  // A bigint column.
  std::int64_t integer(std::size_t row, int column) const;
  std::size_t size(std::size_t row, int column) const;
  // A double precision column; none for NULL.
  std::optional<double> real(std::size_t row, int column) const;
  // A text or bytea column; none for NULL.
  std::optional<std::string> optionalBytes(std::size_t row, int column) const;

 private:
  std::string_view field(std::size_t row, int column, std::size_t width) const;

  pg_result* result_;
};

// A statement's parameters, in the order of its $1, $2, ...
class PgParams {
 public:
  PgParams& text(std::string_view value);
  PgParams& bytes(std::string_view value);
  PgParams& integer(std::int64_t value);
  // Sizes beyond the largest bigint are sent as it, as good as no limit.
  PgParams& size(std::size_t value);
  // NULL for none.
  PgParams& real(std::optional<double> value);
  // NULL for empty.
  PgParams& bytesOrNull(std::string_view value);
  // A text or bytea value; NULL for none.
  PgParams& optionalBytes(const std::optional<std::string>& value);

 private:
  friend class PgConnection;
  PgParams& add(std::optional<std::string> value);

  std::vector<std::optional<std::string>> values_;
};

// The type of each parameter of a prepared statement, as PostgreSQL names it.
enum class PgType : unsigned { bigint = 20, text = 25, bytea = 17, doublePrecision = 701 };

struct PgStatement {
  const char* name;
  const char* sql;
  std::vector<PgType> params;
};

class PgConnection {
 public:
  // Connects and prepares `statements`; throws a Failure naming what failed.
  PgConnection(const std::string& url, const std::vector<PgStatement>& statements);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Prepares one more statement, for a job of its own (a schema step).
  void prepare(const PgStatement& statement);
  // Runs the prepared statement `name`; throws "`what`: the database's
  // message" on failure.
  PgResult run(const char* name, const PgParams& params, std::string_view what);
  // Runs `sql` as it is, for schema changes and transaction control; and
  // the schema's one-off queries, their results in binary form too.
  void execute(const char* sql, std::string_view what);
  PgResult query(const char* sql, std::string_view what);

  // True once the connection to the server is gone: it is not used again.
  bool lost() const;
  // Ends a transaction left open by a failure, if any; best effort.
  void rollback() noexcept;

 private:
  PgResult check(pg_result* result, std::string_view what);

  pg_conn* connection_;
};

}  // namespace zelvor::site
