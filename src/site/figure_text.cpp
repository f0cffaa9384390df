#include "site/figure_text.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zelvor::site {

namespace {

constexpr std::int64_t msPerDay = 86'400'000;

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date, in 64 bits
// throughout, so no stored time can overflow it (Howard Hinnant's
// days-to-civil algorithm).
CivilDate civilFromDays(std::int64_t days) {
  days += 719'468;
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

void appendPadded(std::string& out, std::int64_t value, std::size_t width) {
  const std::string digits = formatWhole(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

// "YYYY-MM-DD" + separator + "hh:mm:ss".
std::string dateAndTime(std::int64_t msSinceEpoch, char separator) {
  // Floor division, so that times before 1970 still land on their own day.
  std::int64_t days = msSinceEpoch / msPerDay;
  if (msSinceEpoch % msPerDay < 0) --days;
  const std::int64_t secondOfDay = (msSinceEpoch - days * msPerDay) / 1000;
  const CivilDate date = civilFromDays(days);
  std::string text;
  appendPadded(text, date.year, 4);
  text += '-';
  appendPadded(text, date.month, 2);
  text += '-';
  appendPadded(text, date.day, 2);
  text += separator;
  appendPadded(text, secondOfDay / 3600, 2);
  text += ':';
  appendPadded(text, secondOfDay / 60 % 60, 2);
  text += ':';
  appendPadded(text, secondOfDay % 60, 2);
  return text;
}

bool isUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string formatUtcTime(std::int64_t msSinceEpoch) {
  return dateAndTime(msSinceEpoch, ' ') + " UTC";
}

std::string formatIsoTime(std::int64_t msSinceEpoch) {
  return dateAndTime(msSinceEpoch, 'T') + 'Z';
}

std::string handleLink(std::string_view path, std::string_view handle) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string link(path);
  link += "?handle=";
  for (const char c : handle) {
    if (isUrlSafe(c)) {
      link += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    link += '%';
    link += hex[byte >> 4];
    link += hex[byte & 0xF];
  }
  return link;
}

}  // namespace zelvor::site
