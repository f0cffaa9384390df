#include "site/sqlite_statement.hpp"

#include <sqlite3.h>

#include <limits>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char prepareText[] = "Could not prepare a statement for";

}  // namespace

SqliteStatement::SqliteStatement(SqliteConnection& connection, std::string_view sql,
                                 std::string_view what)
    : connection_(connection), what_(what) {
  // Persistent: these statements live as long as the connection.
  const int code = sqlite3_prepare_v3(connection.get(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (code != SQLITE_OK) throw connection.failure(prepareText);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

void SqliteStatement::check(int code) const {
  if (code != SQLITE_OK) throw failure();
}

void SqliteStatement::bindText(int index, std::string_view text) {
  check(
      sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8));
}

void SqliteStatement::bindBytes(int index, std::string_view bytes) {
  // A null pointer would bind NULL rather than an empty value.
  const char* const data = bytes.data() != nullptr ? bytes.data() : "";
  check(sqlite3_bind_blob64(statement_, index, data, bytes.size(), SQLITE_STATIC));
}

void SqliteStatement::bindInteger(int index, std::int64_t value) {
  check(sqlite3_bind_int64(statement_, index, value));
}

void SqliteStatement::bindSize(int index, std::size_t value) {
  constexpr auto largest = static_cast<std::size_t>(std::numeric_limits<sqlite3_int64>::max());
  bindInteger(index, static_cast<std::int64_t>(value < largest ? value : largest));
}

void SqliteStatement::bindReal(int index, std::optional<double> value) {
  check(value ? sqlite3_bind_double(statement_, index, *value)
              : sqlite3_bind_null(statement_, index));
}

bool SqliteStatement::step() {
  const int code = tryStep();
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  throw failure();
}

int SqliteStatement::tryStep() { return sqlite3_step(statement_); }

std::string SqliteStatement::columnText(int column) const {
  // The pointer first, then its length: that order reads the text as it is.
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  const int length = sqlite3_column_bytes(statement_, column);
  return text != nullptr ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

std::string SqliteStatement::columnBytes(int column) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
  const int length = sqlite3_column_bytes(statement_, column);
  return bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(length)) : std::string();
}

std::string_view SqliteStatement::columnBytesView(int column) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
  const int length = sqlite3_column_bytes(statement_, column);
  return bytes != nullptr ? std::string_view(bytes, static_cast<std::size_t>(length))
                          : std::string_view();
}

std::string_view SqliteStatement::columnTextView(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  const int length = sqlite3_column_bytes(statement_, column);
  return text != nullptr ? std::string_view(text, static_cast<std::size_t>(length))
                         : std::string_view();
}

bool SqliteStatement::columnIsNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::columnInteger(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::size_t SqliteStatement::columnSize(int column) const {
  const std::int64_t value = columnInteger(column);
  return value > 0 ? static_cast<std::size_t>(value) : 0;
}

std::optional<double> SqliteStatement::columnReal(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(statement_, column);
}

std::optional<std::string> SqliteStatement::columnOptionalText(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return columnText(column);
}

kelvo::Failure SqliteStatement::failure() const { return connection_.failure(what_); }

void SqliteStatement::reset() {
  // reset repeats the last step's failure, which the step has reported.
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

}  // namespace zelvor::site
