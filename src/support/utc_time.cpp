// The four forms, and the two read back, share one way down to the calendar: the date from
// std::chrono's year_month_day, the time of day from hh_mm_ss, the digits
// written here (the compilers the program is built with have no
// std::format).
#include "support/utc_time.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>

namespace kelvo {

namespace {

using std::chrono::milliseconds;
using UnixTime = std::chrono::sys_time<milliseconds>;

// Where the separators go, and what the text ends with.
struct Form {
  std::string_view dateSeparator;
  char dateTimeSeparator;
  std::string_view timeSeparator;
  bool withMilliseconds;
  std::string_view zone;
};

constexpr Form readable{"-", ' ', ":", false, " UTC"};
constexpr Form iso{"-", 'T', ":", false, "Z"};
constexpr Form isoMs{"-", 'T', ":", true, "Z"};
constexpr Form compact{"", 'T', "", false, "Z"};

// A year out of year_month_day's range would wrap; its end is the nearest
// time it can say.
constexpr UnixTime earliest{
    std::chrono::sys_days(std::chrono::year::min() / std::chrono::January / 1)};
constexpr UnixTime latest{
    std::chrono::sys_days(std::chrono::year::max() / std::chrono::December / 31) +
    std::chrono::days(1) - milliseconds(1)};

void appendDigits(std::string& out, unsigned value, std::size_t width) {
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (count < width) out.append(width - count, '0');
  while (count > 0) out += digits[--count];
}

std::string write(std::int64_t unixMs, const Form& form) {
  const UnixTime time = std::clamp(UnixTime(milliseconds(unixMs)), earliest, latest);
  const auto day = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(time - day);
  const int year = static_cast<int>(date.year());

  std::string text;
  if (year < 0) text += '-';
  appendDigits(text, static_cast<unsigned>(year < 0 ? -year : year), 4);
  text += form.dateSeparator;
  appendDigits(text, static_cast<unsigned>(date.month()), 2);
  text += form.dateSeparator;
  appendDigits(text, static_cast<unsigned>(date.day()), 2);
  text += form.dateTimeSeparator;
  appendDigits(text, static_cast<unsigned>(clock.hours().count()), 2);
  text += form.timeSeparator;
  appendDigits(text, static_cast<unsigned>(clock.minutes().count()), 2);
  text += form.timeSeparator;
  appendDigits(text, static_cast<unsigned>(clock.seconds().count()), 2);
  if (form.withMilliseconds) {
    text += '.';
    appendDigits(text, static_cast<unsigned>(clock.subseconds().count()), 3);
  }
  text += form.zone;
  return text;
}

// Reads `form` back: each field a fixed number of digits, each separator
// exactly as written.
std::optional<std::int64_t> read(std::string_view text, const Form& form) {
  std::size_t at = 0;
  const auto digits = [&](std::size_t width) -> std::optional<unsigned> {
    if (text.size() - at < width) return std::nullopt;
    unsigned value = 0;
    for (std::size_t end = at + width; at < end; ++at) {
      if (text[at] < '0' || text[at] > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
    }
    return value;
  };
  const auto literal = [&](std::string_view expected) {
    if (text.substr(at, expected.size()) != expected) return false;
    at += expected.size();
    return true;
  };
  const auto year = digits(4);
  if (!year || !literal(form.dateSeparator)) return std::nullopt;
  const auto month = digits(2);
  if (!month || !literal(form.dateSeparator)) return std::nullopt;
  const auto day = digits(2);
  if (!day || !literal(std::string_view(&form.dateTimeSeparator, 1))) return std::nullopt;
  const auto hours = digits(2);
  if (!hours || !literal(form.timeSeparator)) return std::nullopt;
  const auto minutes = digits(2);
  if (!minutes || !literal(form.timeSeparator)) return std::nullopt;
  const auto seconds = digits(2);
  if (!seconds || !literal(form.zone) || at != text.size()) return std::nullopt;

  const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)),
                                         std::chrono::month(*month), std::chrono::day(*day)};
  if (!date.ok() || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  const auto time = std::chrono::sys_days(date) + std::chrono::hours(*hours) +
                    std::chrono::minutes(*minutes) + std::chrono::seconds(*seconds);
  return std::chrono::duration_cast<milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

std::string readableUtcTime(std::int64_t unixMs) { return write(unixMs, readable); }
std::string isoUtcTime(std::int64_t unixMs) { return write(unixMs, iso); }
std::string isoUtcTimeMs(std::int64_t unixMs) { return write(unixMs, isoMs); }
std::string compactUtcTime(std::int64_t unixMs) { return write(unixMs, compact); }

std::optional<std::int64_t> parseIsoUtcTime(std::string_view text) { return read(text, iso); }
std::optional<std::int64_t> parseCompactUtcTime(std::string_view text) {
  return read(text, compact);
}

}  // namespace kelvo
