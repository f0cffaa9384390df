#include "cli/schedule.hpp"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <variant>
#include <vector>

#include "app/failed_post.hpp"
#include "app/failure_text.hpp"
#include "app/unsent_reports.hpp"
#include "catalogue/report.hpp"
#include "cli/interrupt_watch.hpp"
#include "cli/kept_reports.hpp"
#include "cli/measuring.hpp"
#include "cli/site_exchanges.hpp"
#include "stats/figure_text.hpp"
#include "stats/host_figures.hpp"
#include "support/resource_string.hpp"
#include "support/utc_time.hpp"

namespace zelvor::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* programName = "zelvor-cli: ";
constexpr const char* noEchoEnd = "no echo came back from any host; not posted";
constexpr const char* notPostedEnd = "not posted (--no-post)";
constexpr const char* unknownClassText = "no class named ";
// A wait is taken in slices no longer than this, so that a clock that is
// late to wake never sleeps past a slot by more.
constexpr std::chrono::milliseconds longestWait{60 * 1000};

void say(const std::string& message) { std::cerr << programName << message << std::endl; }

std::size_t hostsAnswered(const ServerClass& measured) {
  return static_cast<std::size_t>(
      std::count_if(measured.servers.begin(), measured.servers.end(), [](const ServerEntry& s) {
        return std::any_of(s.samples.begin(), s.samples.end(),
                           [](const EchoSample& sample) { return sample.failure == nullptr; });
      }));
}

// What one scheduled run shares with the next: the list last fetched,
// standing in when the site cannot give it, so that a run while the site is
// away still measures and keeps its report.
struct Runner {
  const SiteInUse& site;
  const std::string& className;
  const Measuring& measuring;
  const std::optional<std::string>& label;
  bool post;
  bool showProgress;
  InterruptWatch& watch;
  std::optional<ServerCatalogue> lastList;

  // One run, its line said; `signalled` set when a signal came meanwhile.
  Outcome run(bool& signalled) {
    Outcome outcome;
    const auto started = std::chrono::system_clock::now();
    const std::int64_t startUnixMs =
        std::chrono::floor<std::chrono::milliseconds>(started).time_since_epoch().count();
    RunLine line{startUnixMs, className, label, 0, 0, std::nullopt, {}};
    line.end = measureAndPost(outcome, line, started, signalled);
    say(formatRunLine(line));
    return outcome;
  }

  std::string measureAndPost(Outcome& outcome, RunLine& line,
                             std::chrono::system_clock::time_point started, bool& signalled) {
    auto fetched = fetchCatalogue(site);
    if (auto* list = std::get_if<ServerCatalogue>(&fetched)) {
      lastList = std::move(*list);
    } else if (!lastList) {
      outcome.failed = true;
      return std::get<std::string>(fetched);
    }
    const auto chosen = std::find_if(lastList->begin(), lastList->end(),
                                     [&](const ServerClass& c) { return c.name == className; });
    if (chosen == lastList->end()) {
      outcome.failed = true;
      return unknownClassText + className;
    }
    ServerClass measured{chosen->name, chosen->servers};
    const MeasuringEnd end = measureWatched(measured.servers, measuring, showProgress, watch);
    signalled = end.signalled;
    if (end.failure) {
      outcome.failed = true;
      return *end.failure;
    }
    judgeHosts(measured.servers, outcome);
    line.hosts = measured.servers.size();
    line.answered = hostsAnswered(measured);
    line.medianMs = stats::runMedian(measured);
    if (end.noEchoSucceeded) return noEchoEnd;
    if (!post) return notPostedEnd;
    return postOrKeep(formatClassReport(measured), started, outcome);
  }

  std::string postOrKeep(const std::string& report, std::chrono::system_clock::time_point started,
                         Outcome& outcome) {
    const std::string folder = UnsentReports::defaultFolder();
    std::string address;
    try {
      // Said on every post: two runs whose reports read alike (every host
      // silent, say) are then two runs, not one posted twice.
      address = postReport(
          site, report,
          {label,
           kelvo::isoUtcTime(
               std::chrono::floor<std::chrono::milliseconds>(started).time_since_epoch().count())});
    } catch (...) {
      outcome.failed = true;
      const std::string failure = currentFailureText();
      // Named by the time measuring began, which is what its later post
      // says it measured.
      const UnpostedReport unposted = keepUnposted(
          failure, site.address, [&] { return UnsentReports(folder).keep(report, started); },
          kelvo::resourceString);
      return unposted.fate + ' ' + unposted.fateDetail + ": " + postFailureLine(site, failure);
    }
    postKeptReports(site, label, folder, say);
    return address;
  }
};

// Until `at`; true when a signal came first.
bool waitUntil(InterruptWatch& watch, Clock::time_point at) {
  for (;;) {
    const auto left = at - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    const auto slice = std::min(std::chrono::ceil<std::chrono::milliseconds>(left), longestWait);
    if (watch.wait(static_cast<std::uint32_t>(slice.count()))) return true;
  }
}

}  // namespace

std::optional<std::chrono::seconds> parseDuration(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  const char unit = text.back();
  text.remove_suffix(1);
  std::int64_t perUnit = 0;
  switch (unit) {
    case 's':
      perUnit = 1;
      break;
    case 'm':
      perUnit = 60;
      break;
    case 'h':
      perUnit = 3600;
      break;
    default:
      return std::nullopt;
  }
  // Digits only: from_chars would take a minus sign.
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::int64_t count = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count);
  if (error != std::errc() || stop != end) return std::nullopt;
  const std::int64_t most = std::chrono::seconds(maxPeriod).count();
  if (count < 1 || count > most / perUnit) return std::nullopt;
  return std::chrono::seconds(count * perUnit);
}

std::int64_t nextSlot(std::chrono::nanoseconds elapsed, std::chrono::seconds period,
                      std::int64_t last) {
  const std::chrono::nanoseconds length = period;
  std::int64_t slot = 0;
  if (elapsed > std::chrono::nanoseconds::zero())
    slot = (elapsed.count() + length.count() - 1) / length.count();
  return std::max(slot, last + 1);
}

std::string formatRunLine(const RunLine& line) {
  std::string text = kelvo::isoUtcTime(line.startUnixMs);
  text += ' ';
  text += line.className;
  text += ' ';
  text += line.label.value_or("-");
  text += ' ';
  text += std::to_string(line.answered) + '/' + std::to_string(line.hosts);
  text += ' ';
  text += line.medianMs ? stats::formatOneDecimal(*line.medianMs) : "-";
  text += " ms ";
  text += line.end;
  return text;
}

Outcome runScheduled(const SiteInUse& site, const std::string& className,
                     const Measuring& measuring, const std::optional<std::string>& label, bool post,
                     bool showProgress, const Schedule& schedule) {
  // Before any thread starts, so that every thread leaves both signals to it.
  InterruptWatch watch(true);
  Runner runner{site, className, measuring, label, post, showProgress, watch, std::nullopt};
  const Clock::time_point first = Clock::now();
  std::int64_t slot = 0;
  std::uint64_t runs = 0;
  for (;;) {
    bool signalled = false;
    const Outcome outcome = runner.run(signalled);
    ++runs;
    // A signal during the list's fetch or the post waits, blocked, for this.
    if (signalled || watch.wait(0)) return outcome;
    if (schedule.count && runs >= *schedule.count) return outcome;
    slot = nextSlot(Clock::now() - first, schedule.period, slot);
    if (waitUntil(watch, first + slot * schedule.period)) return outcome;
  }
}

}  // namespace zelvor::cli
