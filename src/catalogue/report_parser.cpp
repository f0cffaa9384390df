// parseReport: the site's strict reader of the results report. It refuses
// rather than guesses: a report that the program cannot have written is
// somebody else's text, and storing a guess would show figures nobody
// measured.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

constexpr std::string_view endLine = "END";

[[noreturn]] void refuse(std::size_t lineNumber, std::string_view reason) {
  std::string text = "line " + std::to_string(lineNumber) + ": ";
  text += reason;
  throw kelvo::Failure(text);
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The same rules as isReportField, with the reason for the first one
// broken; `what` names the field.
void checkField(std::string_view field, std::size_t lineNumber, const std::string& what) {
  if (field.empty()) refuse(lineNumber, what + " is empty");
  if (field.size() > maxFieldBytes)
    refuse(lineNumber, what + " is longer than " + std::to_string(maxFieldBytes) + " bytes");
  if (field.find(':') != std::string_view::npos) refuse(lineNumber, what + " holds a colon");
}

// A round trip exactly as std::to_chars writes an int32: an optional minus,
// no leading zeros, no "-0".
std::optional<std::int32_t> parseRoundTrip(std::string_view text) {
  const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  if (text.starts_with('-') && digits == "0") return std::nullopt;
  std::int32_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

const char* failureConstant(std::string_view word) {
  for (const char* known : failure::all)
    if (word == known) return known;
  return nullptr;
}

// The next line without its line feed; refuses text that ends without one.
std::string_view takeLine(std::string_view& rest, std::size_t lineNumber) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) refuse(lineNumber, "the line does not end with a line feed");
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  if (line.ends_with('\r')) refuse(lineNumber, "lines end with a line feed alone, not CR LF");
  for (const char c : line)
    if (isControl(c)) refuse(lineNumber, "the line holds a control character");
  return line;
}

struct SampleLine {
  std::string_view host;
  EchoSample sample;
};

SampleLine parseSampleLine(std::string_view line, std::size_t lineNumber) {
  const std::size_t firstColon = line.find(':');
  const std::size_t secondColon =
      firstColon == std::string_view::npos ? firstColon : line.find(':', firstColon + 1);
  if (secondColon == std::string_view::npos ||
      line.find(':', secondColon + 1) != std::string_view::npos)
    refuse(lineNumber, "a sample line is host:rtt: or host::WORD");
  SampleLine parsed{line.substr(0, firstColon), {}};
  checkField(parsed.host, lineNumber, "the host");
  const std::string_view roundTrip = line.substr(firstColon + 1, secondColon - firstColon - 1);
  const std::string_view word = line.substr(secondColon + 1);
  if (roundTrip.empty() == word.empty())
    refuse(lineNumber, "a sample has either a round trip or a failure word");
  if (!word.empty()) {
    parsed.sample.failure = failureConstant(word);
    if (parsed.sample.failure == nullptr) refuse(lineNumber, "unknown failure word");
    return parsed;
  }
  const auto rtt = parseRoundTrip(roundTrip);
  if (!rtt) refuse(lineNumber, "the round trip is not a whole number of milliseconds");
  parsed.sample.rtt = *rtt;
  return parsed;
}

}  // namespace

bool isReportField(std::string_view field) {
  if (field.empty() || field.size() > maxFieldBytes) return false;
  for (const char c : field)
    if (c == ':' || isControl(c)) return false;
  return true;
}

ServerClass parseReport(std::string_view text) {
  if (text.empty()) refuse(1, "the report is empty");
  std::string_view rest = text;
  std::size_t lineNumber = 1;
  ServerClass measured;
  const std::string_view name = takeLine(rest, lineNumber);
  checkField(name, lineNumber, "the class name");
  measured.name = name;
  for (;;) {
    ++lineNumber;
    if (rest.empty()) refuse(lineNumber, "the report ends without END");
    const std::string_view line = takeLine(rest, lineNumber);
    if (line == endLine) break;
    const SampleLine sample = parseSampleLine(line, lineNumber);
    if (measured.servers.empty() || measured.servers.back().host != sample.host)
      measured.servers.push_back(ServerEntry{std::string(sample.host), {}});
    measured.servers.back().samples.push_back(sample.sample);
  }
  if (!rest.empty()) refuse(lineNumber + 1, "text after END");
  return measured;
}

}  // namespace zelvor
