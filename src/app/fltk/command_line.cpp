#include "app/fltk/command_line.hpp"

#include <CLI/CLI.hpp>
#include <string>

#include "support/version.hpp"

namespace zelvor {

namespace {

constexpr const char* refusedSite =
    ": not HOST[:PORT] (a host name or IPv4 address, a port from 1 to 65535)";

}  // namespace

std::variant<CommandLine, int> parseCommandLine(int argc, const char* const* argv,
                                                std::ostream& out, std::ostream& err) {
  CLI::App app(
      "Measures the round trips to a class of the site's test servers, posts them to "
      "the site and opens its results page.",
      "zelvor");
  std::string siteText;
  const CLI::Option* const siteOption =
      app.add_option("--site", siteText,
                     "Talk to this site for this run only, instead of the settings' site or the "
                     "built-in one (port 80 unless given)")
          ->type_name("HOST[:PORT]");
  app.set_version_flag("--version", "zelvor " + std::string(kelvo::version));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Only a request for the help or the version ends with 0.
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    err << "zelvor: " << error.what() << '\n';
    return 1;
  }
  CommandLine commandLine;
  if (siteOption->count() > 0) {
    commandLine.site = parseSiteAddress(siteText);
    if (!commandLine.site) {
      err << "zelvor: --site " << siteText << refusedSite << '\n';
      return 1;
    }
  }
  return commandLine;
}

}  // namespace zelvor
