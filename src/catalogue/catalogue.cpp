#include "catalogue/catalogue.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace zelvor {

namespace {

// The two text fields of a line that qualified; views into the list body.
struct ServerLine {
  std::string_view name;
  std::string_view host;
};

// White space as C's isspace sees it in the "C" locale; the process locale
// must not change what the list means.
bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Takes the bytes up to the next ':' (or the end) off the front of `rest`.
// White space belongs to the field: names are taken byte for byte.
std::string_view takeField(std::string_view& rest) {
  const std::size_t end = std::min(rest.find(':'), rest.size());
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

bool takeColon(std::string_view& rest) {
  if (rest.empty() || rest.front() != ':') return false;
  rest.remove_prefix(1);
  return true;
}

// True when `text` starts with a decimal number (after optional white space
// and sign) whose value is 80; whatever follows the digits is ignored. The
// value is judged by its significant digits instead of being computed, so an
// endless digit run can neither overflow nor wrap round to 80.
bool startsWithEighty(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  while (i < text.size() && text[i] == '0') ++i;
  const std::size_t significantStart = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  return !negative && text.substr(significantStart, i - significantStart) == "80";
}

// Reads one line, without its line feed, as "name:host:number" and yields
// the two text fields when the line qualifies.
std::optional<ServerLine> scanServerLine(std::string_view line) {
  // The list is C text: a NUL ends what the line says.
  line = line.substr(0, line.find('\0'));
  ServerLine fields;
  fields.name = takeField(line);
  if (fields.name.empty() || !takeColon(line)) return std::nullopt;
  fields.host = takeField(line);
  if (fields.host.empty() || !takeColon(line)) return std::nullopt;
  if (fields.name.size() > maxFieldBytes || fields.host.size() > maxFieldBytes) return std::nullopt;
  if (!startsWithEighty(line)) return std::nullopt;
  return fields;
}

// Where each class stands in the catalogue, by name. The keys are views into
// the list body, which outlives the parse; the catalogue's own names would
// move as it grows.
using ClassIndex = std::unordered_map<std::string_view, std::size_t>;

// Files the host under its class, opening the class on its first line.
void addServer(ServerCatalogue& catalogue, ClassIndex& index, const ServerLine& line) {
  const auto [position, isNew] = index.try_emplace(line.name, catalogue.size());
  if (isNew) catalogue.push_back(ServerClass{std::string(line.name), {}});
  catalogue[position->second].servers.push_back(ServerEntry{std::string(line.host), {}});
}

}  // namespace

ServerCatalogue parseServerList(std::string_view text) {
  ServerCatalogue catalogue;
  ClassIndex index;
  // Only lines ended by a line feed count: bytes after the last one are a
  // line the transfer may have cut short.
  std::size_t lineStart = 0;
  for (std::size_t lineEnd = text.find('\n'); lineEnd != std::string_view::npos;
       lineEnd = text.find('\n', lineStart)) {
    if (const auto line = scanServerLine(text.substr(lineStart, lineEnd - lineStart)))
      addServer(catalogue, index, *line);
    lineStart = lineEnd + 1;
  }
  return catalogue;
}

}  // namespace zelvor
