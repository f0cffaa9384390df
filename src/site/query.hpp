// Reading the query of a request's target.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvor::site {

// `text` with each %XX replaced by its byte, and '+' by a space when
// `plusIsSpace` (as forms encode a query); none when a '%' is not followed
// by two hexadecimal digits.
std::optional<std::string> percentDecoded(std::string_view text, bool plusIsSpace);

// The decoded value of the first `name=value` pair of `query` ("a=1&b=2")
// named `name`; empty when there is none or it does not decode.
std::string queryValue(std::string_view query, std::string_view name);

// The same for a parameter whose absence means something: none when there is
// no pair named `name`; the value as it stands when it does not decode, so
// that a refusal can name it.
std::optional<std::string> givenQueryValue(std::string_view query, std::string_view name);

}  // namespace zelvor::site
