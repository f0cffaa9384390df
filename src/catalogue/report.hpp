// The results report: the text posted back to the site for one class of
// servers, one line per echo sample.
#pragma once

#include <string>

#include "catalogue/catalogue.hpp"

namespace zelvor {

// One line per sample in stored order: "host:rtt:" for an echo that came
// back, "host::TEXT" for a failed one. An entry without samples gives "".
std::string formatServerLines(const ServerEntry& entry);

// The class name line, then every entry's sample lines in order, then "END".
std::string formatClassReport(const ServerClass& serverClass);

}  // namespace zelvor
