// How the program writes a moment as UTC text: the site's pages, downloads
// and log lines, and the names of the reports kept unsent. Each form is
// fixed and locale-free, and every one is floored to the unit it shows, so
// a time before 1970 still lands on its own second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// `unixMs` counts milliseconds since 1970-01-01 00:00:00 UTC, as the system
// clock does. Years have at least four digits; a time beyond the calendar's
// years -32767 to 32767 is written as the end of that range.

// "2026-12-07 18:05:01 UTC": what a reader sees.
std::string readableUtcTime(std::int64_t unixMs);

// "2026-12-07T18:05:01Z" (ISO 8601): what machines and HTML's <time> read.
std::string isoUtcTime(std::int64_t unixMs);

// "2026-12-07T18:05:01.123Z": the same to the millisecond, for log lines.
std::string isoUtcTimeMs(std::int64_t unixMs);

// "20261207T180501Z": ISO 8601's basic form, which file names on every
// system can hold and which sorts as time does.
std::string compactUtcTime(std::int64_t unixMs);

// The moment `text` names in the ISO form ("2026-12-07T18:05:01Z") or the
// compact one ("20261207T180501Z"), exactly as the functions above write
// them for the years 0000 to 9999; none for anything else, a date the
// calendar lacks (February 30) or a time of day past 23:59:59 included.
std::optional<std::int64_t> parseIsoUtcTime(std::string_view text);
std::optional<std::int64_t> parseCompactUtcTime(std::string_view text);

}  // namespace kelvo
