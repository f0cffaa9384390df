// The results report: the text posted back to the site for one class of
// servers, one line per echo sample, and the site's reader of it.
#pragma once

#include <string>
#include <string_view>

#include "catalogue/catalogue.hpp"

namespace zelvor {

// One line per sample in stored order: "host:rtt:" for an echo that came
// back, "host::TEXT" for a failed one. An entry without samples gives "".
std::string formatServerLines(const ServerEntry& entry);

// The class name line, then every entry's sample lines in order, then "END".
std::string formatClassReport(const ServerClass& serverClass);

// True for a class name or host that a report can carry and a page can
// show: 1 to maxFieldBytes bytes, no colon, no control character.
bool isReportField(std::string_view field);

// Reads a report as formatClassReport writes it and gives the class back;
// consecutive lines of one host become one entry, and each failure points
// at its constant in catalogue/failure_texts.hpp. Accepts exactly the texts
// that formatClassReport writes for classes of report fields, so that
// formatClassReport(parseReport(text)) == text. Anything else throws a
// one-line text that starts with the number of the first line at fault:
// "line 3: ...".
ServerClass parseReport(std::string_view text);

}  // namespace zelvor
