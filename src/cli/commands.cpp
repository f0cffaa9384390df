#include "cli/commands.hpp"

#include <algorithm>
#include <iostream>

#include "app/browser.hpp"
#include "app/failed_post.hpp"
#include "app/failure_text.hpp"
#include "app/post_target.hpp"
#include "app/site_services.hpp"
#include "app/string_ids.hpp"
#include "app/unsent_reports.hpp"
#include "catalogue/report.hpp"
#include "catalogue/vantage_label.hpp"
#include "cli/console.hpp"
#include "cli/measuring.hpp"
#include "cli/result_formats.hpp"
#include "cli/site_exchanges.hpp"
#include "support/failure.hpp"
#include "support/resource_string.hpp"
#include "support/whole_file.hpp"

namespace zelvor::cli {

namespace {

constexpr const char* programName = "zelvor-cli: ";
constexpr const char* interruptedText = "interrupted: the results are partial; nothing was posted";
constexpr const char* noEchoText = "no echo came back from any host; nothing was posted";
constexpr const char* unknownClassText = "no class named ";
constexpr const char* resultsLine = "Results: ";

void say(const std::string& message) { std::cerr << programName << message << '\n'; }

void writeResults(const ServerClass& measured, const Measuring& measuring, Format format,
                  bool partial, const std::optional<std::string>& address) {
  switch (format) {
    case Format::table:
      std::cout << formatTable(measured);
      if (address) std::cout << '\n' << resultsLine << *address << '\n';
      break;
    case Format::json:
      std::cout << formatJson({measured, measuring, partial, address});
      break;
    case Format::csv:
      std::cout << formatCsv(measured);
      break;
    case Format::report:
      std::cout << formatClassReport(measured);
      break;
  }
  // Where stdout holds only data, the address goes with the messages.
  if (address && (format == Format::csv || format == Format::report))
    std::cerr << resultsLine << *address << '\n';
  std::cout.flush();
}

// Measures `measured` and writes what it found; `afterMeasuring` posts, when
// the command does, and gives the results address.
template <typename AfterMeasuring>
Outcome measureAndWrite(ServerClass& measured, const Measuring& measuring,
                        const MeasuringOutput& output, AfterMeasuring afterMeasuring) {
  Outcome outcome;
  const MeasuringEnd end =
      measure(measured.servers, measuring, !output.quiet && stderrIsTerminal());
  if (end.failure) {
    say(*end.failure);
    outcome.failed = true;
    return outcome;
  }
  judgeHosts(measured.servers, outcome);
  std::optional<std::string> address;
  if (end.interrupted) {
    outcome.interrupted = true;
  } else if (end.noEchoSucceeded) {
    // As the window does: a run in which nothing answered is not posted.
  } else {
    address = afterMeasuring(outcome);
  }
  writeResults(measured, measuring, output.format, end.interrupted, address);
  if (end.interrupted) say(interruptedText);
  if (end.noEchoSucceeded) say(noEchoText);
  return outcome;
}

// The site's classes; nothing, with the failure said and set in `outcome`,
// when the site cannot be reached or lists none.
std::optional<ServerCatalogue> fetchClasses(const SiteInUse& site, Outcome& outcome) {
  auto fetched = fetchCatalogue(site);
  if (auto* catalogue = std::get_if<ServerCatalogue>(&fetched)) return std::move(*catalogue);
  say(std::get<std::string>(fetched));
  outcome.failed = true;
  return std::nullopt;
}

}  // namespace

SiteInUse siteInUse(const std::optional<SiteAddress>& commandLine,
                    const std::optional<std::string>& stored) {
  const SiteChoice choice = chooseSite(commandLine, stored);
  if (choice.settingRefused)
    say("the stored site \"" + stored.value_or("") + "\" is not HOST[:PORT] and is ignored");
  return zelvor::siteInUse(choice.site, kelvo::resourceString(text::siteHost),
                           kelvo::resourceString(text::resultsAddress),
                           kelvo::resourceString(text::resultsPath));
}

std::optional<std::string> chosenLabel(const std::optional<std::string>& commandLine,
                                       const std::optional<std::string>& stored) {
  if (!commandLine && stored && !isVantageLabel(*stored)) say(refusedLabelSetting(*stored));
  return labelInUse(commandLine, stored);
}

void sayRefusedIp(const std::optional<IpChoice>& commandLine,
                  const std::optional<std::string>& stored) {
  if (commandLine) return;
  if (const auto refused = refusedIpSetting(stored)) say(*refused);
}

Outcome listClasses(const SiteInUse& site, Format format) {
  Outcome outcome;
  const std::optional<ServerCatalogue> catalogue = fetchClasses(site, outcome);
  if (catalogue) std::cout << formatClasses(*catalogue, format);
  return outcome;
}

Outcome runClass(const SiteInUse& site, const std::string& className, const Measuring& measuring,
                 const MeasuringOutput& output, const std::optional<std::string>& label, bool post,
                 bool openResults) {
  Outcome outcome;
  std::optional<ServerCatalogue> catalogue = fetchClasses(site, outcome);
  if (!catalogue) return outcome;
  const auto chosen = std::find_if(catalogue->begin(), catalogue->end(),
                                   [&](const ServerClass& c) { return c.name == className; });
  if (chosen == catalogue->end()) {
    say(unknownClassText + className + " (zelvor-cli classes lists them)");
    outcome.badArguments = true;
    return outcome;
  }

  return measureAndWrite(
      *chosen, measuring, output, [&](Outcome& posted) -> std::optional<std::string> {
        if (!post) return std::nullopt;
        const std::string report = formatClassReport(*chosen);
        std::string address;
        try {
          address = postReport(site, report, {label, std::nullopt});
        } catch (...) {
          posted.failed = true;
          const std::string failure = currentFailureText();
          const UnpostedReport unposted = keepUnposted(
              failure, site.address,
              [&] { return UnsentReports(UnsentReports::defaultFolder()).keep(report); },
              kelvo::resourceString);
          say(postFailureLine(site, failure));
          say(unposted.fate + ' ' + unposted.fateDetail);
          return std::nullopt;
        }
        if (openResults && !openInBrowser(address)) say(kelvo::resourceString(text::browserError));
        return address;
      });
}

Outcome pingHosts(const std::vector<std::string>& hosts, const Measuring& measuring,
                  const MeasuringOutput& output) {
  ServerClass measured{pingClassName, {}};
  for (const std::string& host : hosts) measured.servers.push_back({host, {}});
  return measureAndWrite(measured, measuring, output,
                         [](Outcome&) -> std::optional<std::string> { return std::nullopt; });
}

Outcome postFiles(const SiteInUse& site, const std::vector<std::string>& files,
                  const std::optional<std::string>& label) {
  Outcome outcome;
  for (const std::string& file : files) {
    const std::optional<std::string> report = kelvo::readWholeFile(file);
    if (!report) {
      say(file + ": cannot be read");
      outcome.failed = true;
      continue;
    }
    try {
      parseReport(*report);
    } catch (...) {
      say(file + ": not a report: " + currentFailureText());
      outcome.failed = true;
      continue;
    }
    try {
      std::cout << postReport(site, *report, {label, measuredAtOfKeptName(file)}) << std::endl;
    } catch (...) {
      const std::string failure = currentFailureText();
      say(file + ": " + postFailureLine(site, failure));
      outcome.failed = true;
    }
  }
  return outcome;
}

}  // namespace zelvor::cli
