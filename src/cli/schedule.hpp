// `zelvor-cli run CLASS --every DURATION`: runs on a fixed cadence from the
// first, one line each on stderr, the reports that could not be posted kept
// and posted at the next run the site takes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/site_address.hpp"
#include "cli/exit_status.hpp"
#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

// "90s", "5m", "1h": decimal digits and one unit, at least a second and at
// most maxPeriod. Nothing for anything else.
std::optional<std::chrono::seconds> parseDuration(std::string_view text);
inline constexpr std::chrono::hours maxPeriod{24 * 366};
inline constexpr const char* everyOptionName = "--every";
inline constexpr const char* durationShapeText =
    "a whole number of seconds, minutes or hours (90s, 5m, 1h), from 1s to 8784h";

// The slot the next run starts in, slot k starting at k periods after the
// first run began: the first slot not yet begun when the last run ended,
// `elapsed` after the first began, and never one before or equal to `last`.
// A run that overran so misses the slots it ran through rather than
// starting late runs back to back.
std::int64_t nextSlot(std::chrono::nanoseconds elapsed, std::chrono::seconds period,
                      std::int64_t last);

// What a scheduled run's line says.
struct RunLine {
  std::int64_t startUnixMs = 0;
  std::string className;
  std::optional<std::string> label;
  std::size_t answered = 0;
  std::size_t hosts = 0;
  std::optional<double> medianMs;
  // The results address, or what became of the report and why.
  std::string end;
};

// "2025-06-01T12:00:00Z Near lab-1 2/3 5.5 ms http://..." with "-" for a
// missing label or median.
std::string formatRunLine(const RunLine& line);

struct Schedule {
  std::chrono::seconds period{};
  // Nothing: until a signal.
  std::optional<std::uint64_t> count;
};

// The runs, until `schedule.count` of them or SIGINT or SIGTERM: while
// waiting for a slot a signal ends it at once, during a run once the run is
// posted or kept. The outcome is the last run's.
Outcome runScheduled(const SiteInUse& site, const std::string& className,
                     const Measuring& measuring, const std::optional<std::string>& label, bool post,
                     bool showProgress, const Schedule& schedule);

}  // namespace zelvor::cli
