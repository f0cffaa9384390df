#include "cli/commands.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/browser.hpp"
#include "app/failed_post.hpp"
#include "app/failure_text.hpp"
#include "app/site_services.hpp"
#include "app/string_ids.hpp"
#include "app/unsent_reports.hpp"
#include "catalogue/report.hpp"
#include "cli/console.hpp"
#include "cli/measuring.hpp"
#include "cli/result_formats.hpp"
#include "net/http_client.hpp"
#include "support/failure.hpp"
#include "support/resource_string.hpp"

namespace zelvor::cli {

namespace {

constexpr const char* programName = "zelvor-cli: ";
constexpr const char* interruptedText = "interrupted: the results are partial; nothing was posted";
constexpr const char* noEchoText = "no echo came back from any host; nothing was posted";
constexpr const char* noClassesText = "the site lists no classes: ";
constexpr const char* unknownClassText = "no class named ";
constexpr const char* notHandleText = "the site's answer is not a handle";
constexpr const char* resultsLine = "Results: ";
constexpr std::size_t maxHandleBytes = 64;

void say(const std::string& message) { std::cerr << programName << message << '\n'; }

std::string connectFailure(const SiteInUse& site, const std::string& failure) {
  return kelvo::resourceString(text::connectError) + siteAuthority(site.address) + ": " + failure;
}

// The site's own refusal names what it did not like; anything else is the
// way to it, and the failure says how it failed.
std::string postFailureLine(const SiteInUse& site, const PostFailure& reason,
                            const std::string& failure) {
  if (reason.refused) return reason.reason + " (" + siteAuthority(site.address) + ')';
  return reason.reason + ": " + failure;
}

// Throws the failure texts of httpPost, and notHandleText.
std::string postReport(const SiteInUse& site, const std::string& report) {
  const std::string handle = httpPost(site.address.host, kelvo::resourceString(text::resultsPath),
                                      report, site.address.port, maxHandleReplyBytes);
  if (!isHandleReply(handle)) throw kelvo::Failure(notHandleText);
  return site.resultsAddress + handle;
}

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
  ServerCatalogue catalogue;
  try {
    catalogue = parseServerList(httpGet(site.address.host, kelvo::resourceString(text::listPath),
                                        site.address.port, maxListReplyBytes));
  } catch (...) {
    say(connectFailure(site, currentFailureText()));
    outcome.failed = true;
    return std::nullopt;
  }
  if (catalogue.empty()) {
    say(noClassesText + siteAuthority(site.address));
    outcome.failed = true;
    return std::nullopt;
  }
  return catalogue;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return content.str();
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

bool isHandleReply(const std::string& reply) {
  return !reply.empty() && reply.size() <= maxHandleBytes &&
         std::all_of(reply.begin(), reply.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

Outcome listClasses(const SiteInUse& site, Format format) {
  Outcome outcome;
  const std::optional<ServerCatalogue> catalogue = fetchClasses(site, outcome);
  if (catalogue) std::cout << formatClasses(*catalogue, format);
  return outcome;
}

Outcome runClass(const SiteInUse& site, const std::string& className, const Measuring& measuring,
                 const MeasuringOutput& output, bool post, bool openResults) {
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
          address = postReport(site, report);
        } catch (...) {
          posted.failed = true;
          const std::string failure = currentFailureText();
          const UnpostedReport unposted = keepUnposted(
              failure, site.address,
              [&] { return UnsentReports(UnsentReports::defaultFolder()).keep(report); },
              kelvo::resourceString);
          say(postFailureLine(site, unposted.failure, failure));
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

Outcome postFiles(const SiteInUse& site, const std::vector<std::string>& files) {
  Outcome outcome;
  for (const std::string& file : files) {
    const std::optional<std::string> report = readFile(file);
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
      std::cout << postReport(site, *report) << std::endl;
    } catch (...) {
      const std::string failure = currentFailureText();
      say(file + ": " +
          postFailureLine(site, postFailure(failure, site.address, kelvo::resourceString),
                          failure));
      outcome.failed = true;
    }
  }
  return outcome;
}

}  // namespace zelvor::cli
