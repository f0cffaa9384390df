#include "app/post_target.hpp"

#include <algorithm>

namespace zelvor {

namespace {

constexpr std::string_view keptNameEnd = ".report";
// "20240229T235959Z", "-001", ".report"
constexpr std::size_t keptTimeBytes = 16;
constexpr std::size_t keptNameBytes = keptTimeBytes + 4 + keptNameEnd.size();

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLabelByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '-' || c == '_' ||
         c == '.';
}

// The number the digits at `from` make; the caller has checked they are.
int number(std::string_view text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

int daysIn(int year, int month) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool isLabelShape(std::string_view text) {
  return !text.empty() && text.size() <= maxLabelBytes &&
         std::all_of(text.begin(), text.end(), isLabelByte);
}

std::string refusedLabelOption(std::string_view given) {
  return std::string(labelOptionName) + ' ' + std::string(given) + ": not a label (" +
         labelShapeText + ')';
}

std::string refusedLabelSetting(std::string_view stored) {
  return "the stored label \"" + std::string(stored) + "\" is not " + labelShapeText +
         " and is ignored";
}

std::optional<std::string> labelInUse(const std::optional<std::string>& commandLine,
                                      const std::optional<std::string>& stored) {
  if (commandLine) return commandLine;
  if (stored && isLabelShape(*stored)) return stored;
  return std::nullopt;
}

std::string postTarget(std::string_view resultsPath, const std::optional<std::string>& label,
                       const std::optional<std::string>& measuredAt) {
  std::string target(resultsPath);
  char joint = '?';
  if (label) {
    target += joint;
    target += "label=" + *label;
    joint = '&';
  }
  if (measuredAt) {
    target += joint;
    target += "measured_at=" + *measuredAt;
  }
  return target;
}

std::optional<std::string> measuredAtOfKeptName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.size() != keptNameBytes || !name.ends_with(keptNameEnd)) return std::nullopt;
  for (std::size_t i = 0; i < keptTimeBytes + 4; ++i) {
    const bool digitHere = i != 8 && i != 15 && i != 16;
    if (digitHere != isDigit(name[i])) return std::nullopt;
  }
  if (name[8] != 'T' || name[15] != 'Z' || name[16] != '-') return std::nullopt;
  const int year = number(name, 0, 4), month = number(name, 4, 2), day = number(name, 6, 2);
  const int hour = number(name, 9, 2), minute = number(name, 11, 2), second = number(name, 13, 2);
  if (month < 1 || month > 12 || day < 1 || day > daysIn(year, month) || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  std::string time;
  time.reserve(20);
  time.append(name.substr(0, 4)) += '-';
  time.append(name.substr(4, 2)) += '-';
  time.append(name.substr(6, 2)) += 'T';
  time.append(name.substr(9, 2)) += ':';
  time.append(name.substr(11, 2)) += ':';
  time.append(name.substr(13, 2)) += 'Z';
  return time;
}

}  // namespace zelvor
