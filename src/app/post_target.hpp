// What a post tells the site beside the report: the vantage label the user
// chose and, for a report kept and posted later, when it was measured. Both
// travel in the post's query, so both are shapes that need no escaping.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

// The option both front ends' users read about, and what a refused label
// is told.
inline constexpr const char* labelOptionName = "--label";

// The complaint about a --label value, without the program's name.
std::string refusedLabelOption(std::string_view given);
// The line about a stored label that is not of the shape, without the
// program's name: it is then treated as absent.
std::string refusedLabelSetting(std::string_view stored);

// The label to send: the command line's, else the stored one when it is of
// the shape; nothing otherwise.
std::optional<std::string> labelInUse(const std::optional<std::string>& commandLine,
                                      const std::optional<std::string>& stored);

// `resultsPath`, then `?label=...` and `measured_at=...` joined by '&',
// each only when given: without either the target is the bare path, as it
// always was.
std::string postTarget(std::string_view resultsPath, const std::optional<std::string>& label,
                       const std::optional<std::string>& measuredAt);

// "2024-02-29T23:59:59Z" from the name of a kept report
// ("20240229T235959Z-001.report", with or without a folder before it).
// Nothing for a name of another shape or a time that no calendar has.
std::optional<std::string> measuredAtOfKeptName(std::string_view path);

}  // namespace zelvor
