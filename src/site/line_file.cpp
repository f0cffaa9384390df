#include "site/line_file.hpp"

#include <optional>
#include <utility>

#include "support/failure.hpp"
#include "support/whole_file.hpp"

namespace zelvor::site {

void forEachLine(std::string_view text,
                 const std::function<void(std::size_t, std::string_view)>& take) {
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const bool blank = line.find_first_not_of(" \t\r") == std::string_view::npos;
    if (!line.starts_with('#') && !blank) take(lineNumber, line);
  }
}

void refuseLine(std::string_view fileName, std::size_t lineNumber, std::string_view reason) {
  std::string text(fileName);
  if (lineNumber > 0) {
    text += ':';
    text += std::to_string(lineNumber);
  }
  text += ": ";
  text += reason;
  throw kelvo::Failure(text);
}

std::string readLineFile(const std::string& path) {
  std::optional<std::string> text = kelvo::readWholeFile(path);
  if (!text) refuseLine(path, 0, "cannot be read");
  return std::move(*text);
}

}  // namespace zelvor::site
