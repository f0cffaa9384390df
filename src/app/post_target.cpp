#include "app/post_target.hpp"

#include <algorithm>
#include <cstdint>

#include "catalogue/vantage_label.hpp"
#include "support/utc_time.hpp"

namespace zelvor {

namespace {

constexpr std::string_view keptNameEnd = ".report";
// "20240229T235959Z", "-001", ".report"
constexpr std::size_t keptTimeBytes = 16;
constexpr std::size_t keptNameBytes = keptTimeBytes + 4 + keptNameEnd.size();

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string refusedLabelOption(std::string_view given) {
  return std::string(labelOptionName) + ' ' + std::string(given) + ": not a label (" +
         vantageLabelShape + ')';
}

std::string refusedLabelSetting(std::string_view stored) {
  return "the stored label \"" + std::string(stored) + "\" is not " + vantageLabelShape +
         " and is ignored";
}

std::optional<std::string> labelInUse(const std::optional<std::string>& commandLine,
                                      const std::optional<std::string>& stored) {
  if (commandLine) return commandLine;
  if (stored && isVantageLabel(*stored)) return stored;
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
  if (name.size() != keptNameBytes || !name.ends_with(keptNameEnd) || name[keptTimeBytes] != '-' ||
      !std::all_of(name.begin() + keptTimeBytes + 1, name.begin() + keptTimeBytes + 4, isDigit))
    return std::nullopt;
  const std::optional<std::int64_t> time =
      kelvo::parseCompactUtcTime(name.substr(0, keptTimeBytes));
  if (!time) return std::nullopt;
  return kelvo::isoUtcTime(*time);
}

}  // namespace zelvor
