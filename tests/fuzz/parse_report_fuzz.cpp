// Fuzz target for parseReport: whatever it accepts, the report writer
// writes back byte for byte (so it never accepts what the program cannot
// have sent); whatever it refuses names a line of the input; and any class
// built from the input's bytes survives writing and reading back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "support/failure.hpp"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

bool isFailureConstant(const char* text) {
  for (const char* known : zelvor::failure::all)
    if (text == known) return true;
  return false;
}

void checkAccepted(std::string_view input, const zelvor::ServerClass& parsed) {
  require(zelvor::formatClassReport(parsed) == input);
  require(zelvor::isReportField(parsed.name));
  for (std::size_t i = 0; i < parsed.servers.size(); ++i) {
    const zelvor::ServerEntry& entry = parsed.servers[i];
    require(zelvor::isReportField(entry.host));
    require(!entry.samples.empty());
    if (i > 0) require(parsed.servers[i - 1].host != entry.host);
    for (const zelvor::EchoSample& sample : entry.samples)
      require(sample.failure == nullptr || isFailureConstant(sample.failure));
  }
}

void checkRefused(std::string_view input, const std::string& reason) {
  require(reason.starts_with("line "));
  std::size_t line = 0;
  std::size_t at = 5;
  while (at < reason.size() && reason[at] >= '0' && reason[at] <= '9')
    line = line * 10 + static_cast<std::size_t>(reason[at++] - '0');
  require(at > 5 && reason.compare(at, 2, ": ") == 0 && reason.find('\n') == std::string::npos);
  std::size_t lineFeeds = 0;
  for (const char c : input) lineFeeds += c == '\n';
  require(line >= 1 && line <= lineFeeds + 1);
}

// A field of 1 to 127 report-safe bytes made from the input's bytes.
std::string fieldFrom(std::string_view& bytes) {
  std::string field;
  const std::size_t length = bytes.empty() ? 1 : 1 + static_cast<unsigned char>(bytes[0]) % 127;
  for (std::size_t i = 1; i <= length; ++i) {
    const auto byte = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 'h';
    const bool safe = byte >= 0x20 && byte != 0x7F && byte != ':';
    field += safe ? static_cast<char>(byte) : 'x';
  }
  bytes.remove_prefix(std::min(bytes.size(), length + 1));
  return field;
}

void checkWrittenReadsBack(std::string_view bytes) {
  zelvor::ServerClass measured{fieldFrom(bytes), {}};
  while (bytes.size() >= 2 && measured.servers.size() < 16) {
    zelvor::ServerEntry entry{fieldFrom(bytes), {}};
    const std::size_t samples = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % 5;
    for (std::size_t i = 0; i < samples && bytes.size() >= 5; ++i) {
      const auto choice = static_cast<unsigned char>(bytes[0]);
      std::int32_t rtt = 0;
      for (int b = 1; b <= 4; ++b)
        rtt = static_cast<std::int32_t>(static_cast<std::uint32_t>(rtt) << 8 |
                                        static_cast<unsigned char>(bytes[b]));
      const char* failure = choice % 2 == 0 ? nullptr : zelvor::failure::all[choice / 2 % 8];
      entry.samples.push_back({failure, rtt});
      bytes.remove_prefix(5);
    }
    if (!bytes.empty()) bytes.remove_prefix(1);
    measured.servers.push_back(std::move(entry));
  }
  const std::string report = zelvor::formatClassReport(measured);
  const zelvor::ServerClass parsed = zelvor::parseReport(report);
  require(zelvor::formatClassReport(parsed) == report);
  require(parsed.name == measured.name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    checkAccepted(input, zelvor::parseReport(input));
  } catch (const kelvo::Failure& reason) {
    checkRefused(input, reason);
  }
  checkWrittenReadsBack(input);
  return 0;
}
