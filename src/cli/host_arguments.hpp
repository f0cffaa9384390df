// The HOST arguments of `zelvor-cli ping`: host names and IPv4 addresses,
// which a report can carry, and IPv6 addresses, which only the other
// formats can, since a report line is "host:rtt:".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/result_formats.hpp"

namespace zelvor::cli {

// An IPv6 address in its text form: eight groups of one to four hex digits
// separated by colons, a "::" standing for one or more zero groups, the last
// two groups possibly a dotted IPv4 address, and an optional zone after '%'
// (letters, digits, '.', '_' or '-'), as link-local addresses need.
bool isIpv6Literal(std::string_view text);

// The complaint about `host` as a HOST whose results are written in
// `format`, without the program's name; nothing when it can be measured.
std::optional<std::string> refusedHost(std::string_view host, Format format);

}  // namespace zelvor::cli
