// The site's log on stderr: one line per request answered, one per failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "site/reply.hpp"
#include "site/request.hpp"

namespace zelvor::site {

// "2026-12-07T18:05:01.123Z GET /zelvor 200 5123 1.4ms": the UTC time, the
// method, the path without its query (handles are not logged), the status,
// the body's bytes and the milliseconds since the request began to arrive.
// Bytes of the path outside printable ASCII are written as %XX, so that no
// request can forge a line.
std::string requestLine(std::int64_t unixMs, std::string_view method, std::string_view path,
                        int status, std::size_t bytes, std::chrono::microseconds took);

// Writes requestLine for an answered request, in one write; `took` runs
// from when the request began to arrive.
void logRequest(const Request& request, const Reply& reply, std::chrono::microseconds took);
// "... GET /zelvor failed: TEXT", for what made a request fail.
void logFailure(const Request& request, std::string_view text);
// Any other line, with the time in front.
void logLine(std::string_view text);

}  // namespace zelvor::site
