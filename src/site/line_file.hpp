// What the operator's line files (the server list, the networks file) share:
// reading one whole, walking its lines past comments and blanks, and
// refusals that name the file and line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zelvor::site {

// Calls `take` with each line's number (from 1) and text, without its '\n',
// skipping blank lines and lines that start with '#'.
void forEachLine(std::string_view text,
                 const std::function<void(std::size_t, std::string_view)>& take);

// Throws "FILE:LINE: reason", or "FILE: reason" for line 0.
[[noreturn]] void refuseLine(std::string_view fileName, std::size_t lineNumber,
                             std::string_view reason);

// The file's bytes; throws "PATH: cannot be read".
std::string readLineFile(const std::string& path);

}  // namespace zelvor::site
