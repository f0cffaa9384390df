// Pure scanners for the lines of an HTTP/1.0 reply. Each reads a line the
// way a C scanf pattern would, which is how the site's replies are judged:
// white space before a number is skipped, anything after it is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor::http {

// The status code of a status line "HTTP/<version> <code>...": "HTTP/" in
// upper case at the very start, a decimal floating-point version (not used),
// optional white space, and a decimal code. Nothing when either number does
// not read, or the code is outside the 32-bit range.
std::optional<std::int32_t> scanStatusCode(std::string_view line);

// The number of a lower-cased "content-length:" line, white space allowed
// before it. Nothing when the line is not one, or the number does not read.
std::optional<std::int32_t> scanContentLength(std::string_view lowered);

// For a lower-cased "connection:" line with a word after it: whether that
// word is "close". Nothing for any other line.
std::optional<bool> scanConnectionClose(std::string_view lowered);

// A header line ends the header when it is empty, "\n" or "\r\n".
bool isBlankLine(std::string_view line);

// A to Z become a to z; every other byte stays.
std::string lowerAscii(std::string_view text);

namespace detail {
// How many characters of `text` a C "%d" conversion consumes (white space
// included) and the value; nothing on a matching failure or a value outside
// the 32-bit range.
std::optional<std::pair<std::size_t, std::int32_t>> scanInt(std::string_view text);
// How many characters of `text` a C "%f" conversion consumes (white space
// included); nothing on a matching failure.
std::optional<std::size_t> scanFloat(std::string_view text);
}  // namespace detail

}  // namespace zelvor::http
