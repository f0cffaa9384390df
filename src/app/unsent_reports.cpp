#include "app/unsent_reports.hpp"

#include <cstdio>
#include <utility>

#include "app/atomic_file.hpp"
#include "support/failure.hpp"
#include "support/utc_time.hpp"

namespace zelvor {

UnsentReports::UnsentReports(std::string folder) : folder_(std::move(folder)) {}

std::string UnsentReports::keep(std::string_view report,
                                std::chrono::system_clock::time_point now) const {
  // A bare name would land in whatever the working folder is.
  if (folder_.empty()) throw kelvo::Failure(unknownFolderText);
  for (int count = 1; count <= maxPerSecond; ++count) {
    std::string path = folder_ + unsentReportName(now, count);
    if (writeFileAtomically(path, report, ExistingFile::keep)) return path;
  }
  throw kelvo::Failure(folder_ + ": " + noFreeNameText);
}

std::string unsentReportName(std::chrono::system_clock::time_point time, int count) {
  const auto unixMs = std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch();
  char number[16];
  std::snprintf(number, sizeof number, "-%03d.report", count);
  return kelvo::compactUtcTime(unixMs.count()) + number;
}

}  // namespace zelvor
