#include "app/fltk/command_line.hpp"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "support/version.hpp"

namespace zelvor {

std::variant<CommandLine, int> parseCommandLine(int argc, const char* const* argv,
                                                std::ostream& out, std::ostream& err) {
  CLI::App app(
      "Measures the round trips to a class of the site's test servers, posts them to "
      "the site and opens its results page.",
      "zelvor");
  std::optional<std::string> siteText;
  app.add_option(siteOptionName, siteText, siteOptionHelp)->type_name(siteOptionType);
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
  if (siteText) {
    commandLine.site = parseSiteAddress(*siteText);
    if (!commandLine.site) {
      err << "zelvor: " << refusedSiteOption(*siteText) << '\n';
      return 1;
    }
  }
  return commandLine;
}

}  // namespace zelvor
