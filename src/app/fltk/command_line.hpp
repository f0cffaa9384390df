// The Linux program's command line.
#pragma once

#include <optional>
#include <ostream>
#include <variant>

#include "app/site_address.hpp"

namespace zelvor {

// What the command line asks of this run, and of this run only.
struct CommandLine {
  std::optional<SiteAddress> site;
};

// The options of `argv`, or the exit code of a run that ends here, before
// any window: 0 after the help, written to `out`; 1 after a one-line
// complaint on `err`.
std::variant<CommandLine, int> parseCommandLine(int argc, const char* const* argv,
                                                std::ostream& out, std::ostream& err);

}  // namespace zelvor
