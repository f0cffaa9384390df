// The results report's layout. The site's collector reads it line by line,
// so the bytes are exact: no padding, no blank lines, no carriage returns.
#include "catalogue/report.hpp"

#include <charconv>
#include <cstring>
#include <limits>

namespace zelvor {

namespace {

// Room for the widest signed 32-bit value, "-2147483648".
constexpr std::size_t maxRttChars = std::numeric_limits<std::int32_t>::digits10 + 2;

// An upper bound of the bytes an entry's lines take. A report of many
// samples then grows its buffer once instead of copying itself repeatedly.
std::size_t serverLinesBound(const ServerEntry& entry) {
  std::size_t total = 0;
  for (const EchoSample& sample : entry.samples) {
    // host, two ':' and the line feed around the time or the failure text.
    total += entry.host.size() + 3 +
             (sample.failure != nullptr ? std::strlen(sample.failure) : maxRttChars);
  }
  return total;
}

void appendServerLines(std::string& out, const ServerEntry& entry) {
  for (const EchoSample& sample : entry.samples) {
    out += entry.host;
    out += ':';
    if (sample.failure != nullptr) {
      out += ':';
      out += sample.failure;
    } else {
      char digits[maxRttChars];
      const auto written = std::to_chars(digits, digits + sizeof digits, sample.rtt);
      out.append(digits, static_cast<std::size_t>(written.ptr - digits));
      out += ':';
    }
    out += '\n';
  }
}

constexpr char classEnd[] = "END\n";

}  // namespace

std::string formatServerLines(const ServerEntry& entry) {
  std::string out;
  out.reserve(serverLinesBound(entry));
  appendServerLines(out, entry);
  return out;
}

std::string formatClassReport(const ServerClass& serverClass) {
  std::size_t bound = serverClass.name.size() + 1 + (sizeof classEnd - 1);
  for (const ServerEntry& entry : serverClass.servers) bound += serverLinesBound(entry);
  std::string out;
  out.reserve(bound);
  out += serverClass.name;
  out += '\n';
  for (const ServerEntry& entry : serverClass.servers) appendServerLines(out, entry);
  out += classEnd;
  return out;
}

}  // namespace zelvor
