#include "app/unsent_reports.hpp"

#include <cstdio>
#include <utility>

#include "app/atomic_file.hpp"
#include "support/failure.hpp"

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
  using namespace std::chrono;
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(floor<seconds>(time - day));
  char name[64];
  std::snprintf(name, sizeof name, "%04d%02u%02uT%02d%02d%02dZ-%03d.report",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), count);
  return name;
}

}  // namespace zelvor
