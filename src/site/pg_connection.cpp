#include "site/pg_connection.hpp"

#include <libpq-fe.h>

#include <bit>
#include <limits>
#include <utility>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char connectText[] = "Could not connect to the database";
constexpr char prepareText[] = "Could not prepare the store's statements";
constexpr char unreachableText[] = "the connection to the database was lost";

// libpq's messages end with a line feed and may go on for several lines;
// the request log keeps one line per failure.
std::string firstLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  text = text.substr(0, text.find('\n'));
  return text.empty() ? unreachableText : text;
}

// Binary numbers travel in network order.
std::string bigEndian(std::uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 7; i >= 0; --i, value >>= 8)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
  return bytes;
}

std::uint64_t fromBigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (const char byte : bytes) value = (value << 8) | static_cast<unsigned char>(byte);
  return value;
}

}  // namespace

PgResult::~PgResult() {
  if (result_ != nullptr) PQclear(result_);
}

PgResult::PgResult(PgResult&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}

std::size_t PgResult::rows() const { return static_cast<std::size_t>(PQntuples(result_)); }

std::string_view PgResult::field(std::size_t row, int column, std::size_t width) const {
  const int r = static_cast<int>(row);
  const std::string_view value(PQgetvalue(result_, r, column),
                               static_cast<std::size_t>(PQgetlength(result_, r, column)));
  if (width != 0 && value.size() != width)
    throw kelvo::Failure("The database answered with a value of an unexpected width");
  return value;
}

std::string PgResult::bytes(std::size_t row, int column) const {
  return std::string(field(row, column, 0));
}

std::string_view PgResult::bytesView(std::size_t row, int column) const {
  return field(row, column, 0);
}

bool PgResult::isNull(std::size_t row, int column) const {
  return PQgetisnull(result_, static_cast<int>(row), column) != 0;
}

std::int64_t PgResult::integer(std::size_t row, int column) const {
  return static_cast<std::int64_t>(fromBigEndian(field(row, column, 8)));
}

std::size_t PgResult::size(std::size_t row, int column) const {
  return static_cast<std::size_t>(integer(row, column));
}

std::optional<double> PgResult::real(std::size_t row, int column) const {
  if (PQgetisnull(result_, static_cast<int>(row), column)) return std::nullopt;
  return std::bit_cast<double>(fromBigEndian(field(row, column, 8)));
}

std::optional<std::string> PgResult::optionalBytes(std::size_t row, int column) const {
  if (PQgetisnull(result_, static_cast<int>(row), column)) return std::nullopt;
  return bytes(row, column);
}

PgParams& PgParams::add(std::optional<std::string> value) {
  values_.push_back(std::move(value));
  return *this;
}

PgParams& PgParams::text(std::string_view value) { return add(std::string(value)); }
PgParams& PgParams::bytes(std::string_view value) { return add(std::string(value)); }

PgParams& PgParams::integer(std::int64_t value) {
  return add(bigEndian(static_cast<std::uint64_t>(value)));
}

PgParams& PgParams::size(std::size_t value) {
  constexpr auto largest = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
  return integer(static_cast<std::int64_t>(value < largest ? value : largest));
}

PgParams& PgParams::real(std::optional<double> value) {
  if (!value) return add(std::nullopt);
  return add(bigEndian(std::bit_cast<std::uint64_t>(*value)));
}

PgParams& PgParams::optionalBytes(const std::optional<std::string>& value) { return add(value); }

PgParams& PgParams::bytesOrNull(std::string_view value) {
  if (value.empty()) return add(std::nullopt);
  return bytes(value);
}

PgConnection::PgConnection(const std::string& url, const std::vector<PgStatement>& statements) {
  // A database that does not answer must not hold a request for long: the
  // connect, a statement (and the locks it waits for) and data the server
  // never acknowledges are each bounded. The URL's own settings, later in
  // the list, win.
  const char* const keys[] = {"connect_timeout", "options", "tcp_user_timeout", "dbname", nullptr};
  const char* const values[] = {"5", "-c statement_timeout=10000", "10000", url.c_str(), nullptr};
  connection_ = PQconnectdbParams(keys, values, 1);
  if (connection_ == nullptr) throw kelvo::Failure(std::string(connectText) + ": out of memory");
  if (PQstatus(connection_) != CONNECTION_OK) {
    std::string text = std::string(connectText) + ": " + firstLine(PQerrorMessage(connection_));
    PQfinish(connection_);
    throw kelvo::Failure(text);
  }
  try {
    for (const PgStatement& statement : statements) prepare(statement);
  } catch (...) {
    PQfinish(connection_);
    throw;
  }
}

PgConnection::~PgConnection() { PQfinish(connection_); }

void PgConnection::prepare(const PgStatement& statement) {
  std::vector<unsigned> types;
  for (const PgType type : statement.params) types.push_back(static_cast<unsigned>(type));
  check(PQprepare(connection_, statement.name, statement.sql, static_cast<int>(types.size()),
                  types.data()),
        prepareText);
}

PgResult PgConnection::check(pg_result* result, std::string_view what) {
  PgResult owned(result);
  const ExecStatusType status = PQresultStatus(result);
  if (result != nullptr && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)) return owned;
  throw kelvo::Failure(
      std::string(what) + ": " +
      firstLine(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection_)));
}

PgResult PgConnection::run(const char* name, const PgParams& params, std::string_view what) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (const auto& value : params.values_) {
    values.push_back(value ? value->data() : nullptr);
    lengths.push_back(value ? static_cast<int>(value->size()) : 0);
  }
  const std::vector<int> binary(values.size(), 1);
  return check(PQexecPrepared(connection_, name, static_cast<int>(values.size()), values.data(),
                              lengths.data(), binary.data(), 1),
               what);
}

void PgConnection::execute(const char* sql, std::string_view what) {
  check(PQexec(connection_, sql), what);
}

PgResult PgConnection::query(const char* sql, std::string_view what) {
  return check(PQexecParams(connection_, sql, 0, nullptr, nullptr, nullptr, nullptr, 1), what);
}

bool PgConnection::lost() const { return PQstatus(connection_) != CONNECTION_OK; }

void PgConnection::rollback() noexcept {
  if (!lost() && PQtransactionStatus(connection_) != PQTRANS_IDLE)
    PQclear(PQexec(connection_, "ROLLBACK"));
}

}  // namespace zelvor::site
