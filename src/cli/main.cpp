// zelvor-cli: the command line, read with CLI11, and the command it names.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/post_target.hpp"
#include "app/settings.hpp"
#include "app/site_address.hpp"
#include "catalogue/vantage_label.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "cli/exit_status.hpp"
#include "cli/host_arguments.hpp"
#include "cli/measuring_options.hpp"
#include "cli/measuring_settings.hpp"
#include "cli/named_option.hpp"
#include "cli/schedule.hpp"
#include "support/version.hpp"

namespace {

using namespace zelvor;
using namespace zelvor::cli;

constexpr const char* exitCodesText = R"(Exit codes:
  0    every host answered at least once (classes, post: everything succeeded)
  1    some host never answered
  2    some host name did not resolve
  3    bad arguments
  4    nothing could be measured, or the site failed (the message names it)
  130  interrupted by Ctrl-C: the results so far are printed, nothing is posted
When several apply, the first in this order wins: 130, 3, 4, 2, 1.)";

struct Arguments {
  MeasuringArguments measuring;
  std::optional<std::string> site;
  Format format = Format::table;
  bool quiet = false;
  bool noPost = false;
  bool open = false;
  std::optional<std::string> label;
  std::optional<std::string> every;
  std::optional<std::uint64_t> count;
  std::string className;
  std::vector<std::string> items;  // hosts or files
};

void addSite(CLI::App& command, Arguments& arguments) {
  command.add_option(siteOptionName, arguments.site, siteOptionHelp)->type_name(siteOptionType);
}

void addLabel(CLI::App& command, Arguments& arguments) {
  command
      .add_option(labelOptionName, arguments.label,
                  "Send this vantage label with the post, instead of the stored one (" +
                      std::string(vantageLabelShape) + ")")
      ->type_name("LABEL");
}

void addFormat(CLI::App& command, Arguments& arguments, bool withReport) {
  std::vector<std::pair<std::string, Format>> formats{
      {"table", Format::table}, {"json", Format::json}, {"csv", Format::csv}};
  if (withReport) formats.emplace_back("report", Format::report);
  takeNamed(
      command.add_option("--format", arguments.format,
                         withReport ? "table (default), json, csv, or report: the exact text posted"
                                    : "table (default), json or csv"),
      formats)
      ->type_name(withReport ? "table|json|csv|report" : "table|json|csv");
}

void addMeasuring(CLI::App& command, Arguments& arguments) {
  addMeasuringOptions(command, arguments.measuring);
  command.add_flag("--quiet,-q", arguments.quiet, "No progress line");
  addFormat(command, arguments, true);
}

// The stored settings and their site, read only when a command needs them.
Settings storedSettings() { return systemSettingsStore()->load(); }

int complain(const std::string& message) {
  std::cerr << "zelvor-cli: " << message << '\n';
  return static_cast<int>(ExitCode::badArguments);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Measures round trips to the site's test servers or to hosts of your own, "
      "from a terminal.",
      "zelvor-cli");
  app.set_version_flag("--version", "zelvor-cli " + std::string(kelvo::version));
  app.footer(exitCodesText);
  app.require_subcommand(1);

  useBinaryStdout();
  Arguments arguments;
  CLI::App* classes = app.add_subcommand("classes", "The site's classes and their server counts");
  addSite(*classes, arguments);
  addFormat(*classes, arguments, false);

  CLI::App* run = app.add_subcommand(
      "run",
      "Measures a class of the site's servers, posts the report and prints the results "
      "address");
  run->add_option("CLASS", arguments.className, "The class, as `classes` names it")->required();
  run->add_flag("--no-post", arguments.noPost, "Measure only: post nothing");
  run->add_flag("--open", arguments.open, "Also open the results page in the browser");
  run->add_option(everyOptionName, arguments.every,
                  "Run again and again on this cadence from the first run (90s, 5m, 1h), one "
                  "line per run on stderr; reports that cannot be posted are kept and posted at "
                  "the next run the site takes; Ctrl-C or SIGTERM ends it, after a run under way")
      ->type_name("DURATION");
  run->add_option("--count", arguments.count, "With --every: stop after N runs")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  addSite(*run, arguments);
  addLabel(*run, arguments);
  addMeasuring(*run, arguments);

  CLI::App* ping = app.add_subcommand(
      "ping", "Measures the hosts named, with no site involved (report class line: ping)");
  ping->add_option("HOST", arguments.items,
                   "Host names, IPv4 or IPv6 addresses (IPv6 ones not with --format report)")
      ->required();
  addMeasuring(*ping, arguments);

  CLI::App* post = app.add_subcommand(
      "post", "Posts saved reports and prints one results address per report posted");
  post->add_option("FILE", arguments.items, "Report files, such as the kept unsent ones")
      ->required();
  addSite(*post, arguments);
  addLabel(*post, arguments);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);
    return complain(error.what());
  }

  if (run->parsed() && arguments.noPost && arguments.open)
    return complain("--open needs a post: it cannot go with --no-post");
  if (arguments.label && !isVantageLabel(*arguments.label))
    return complain(refusedLabelOption(*arguments.label));
  std::optional<Schedule> schedule;
  if (arguments.every) {
    const auto period = parseDuration(*arguments.every);
    if (!period)
      return complain(std::string(everyOptionName) + ' ' + *arguments.every + ": not " +
                      durationShapeText);
    if (arguments.open) return complain("--open cannot go with --every: no one is there to look");
    if (run->count("--format") > 0)
      return complain("--format cannot go with --every: each run writes one line on stderr");
    schedule = Schedule{*period, arguments.count};
  } else if (arguments.count) {
    return complain("--count needs --every");
  }

  const Format format = arguments.format;
  const Settings stored = storedSettings();
  std::optional<SiteAddress> siteArgument;
  if (arguments.site) {
    siteArgument = parseSiteAddress(*arguments.site);
    if (!siteArgument) return complain(refusedSiteOption(*arguments.site));
  }

  Outcome outcome;
  if (classes->parsed()) {
    outcome = listClasses(siteInUse(siteArgument, stored.site), format);
  } else if (post->parsed()) {
    outcome = postFiles(siteInUse(siteArgument, stored.site), arguments.items,
                        chosenLabel(arguments.label, stored.label));
  } else {
    const auto measuring = measuringSettings(stored, arguments.measuring);
    if (const auto* complaint = std::get_if<std::string>(&measuring)) return complain(*complaint);
    if (ping->parsed()) {
      for (const std::string& host : arguments.items) {
        if (const auto refused = refusedHost(host, format)) return complain(*refused);
      }
    }
    sayRefusedIp(arguments.measuring.ip, stored.ip);
    const MeasuringOutput output{format, arguments.quiet};
    if (run->parsed() && schedule) {
      const std::optional<std::string> label =
          arguments.noPost ? std::nullopt : chosenLabel(arguments.label, stored.label);
      outcome = runScheduled(siteInUse(siteArgument, stored.site), arguments.className,
                             std::get<Measuring>(measuring), label, !arguments.noPost,
                             !arguments.quiet && stderrIsTerminal(), *schedule);
    } else if (run->parsed()) {
      const std::optional<std::string> label =
          arguments.noPost ? std::nullopt : chosenLabel(arguments.label, stored.label);
      outcome = runClass(siteInUse(siteArgument, stored.site), arguments.className,
                         std::get<Measuring>(measuring), output, label, !arguments.noPost,
                         arguments.open);
    } else {
      outcome = pingHosts(arguments.items, std::get<Measuring>(measuring), output);
    }
  }
  return static_cast<int>(exitCodeOf(outcome));
}
