// Fuzz target for parseServerList and the class report: whatever bytes the
// site sends, every entry is well formed, traceable to a whole line of the
// input, and reports in the exact layout.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/catalogue.hpp"
#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

bool isCleanField(std::string_view field) {
  return !field.empty() && field.size() <= zelvor::maxFieldBytes &&
         field.find_first_of(std::string_view(":\n\0", 3)) == std::string_view::npos;
}

// True when some line of `input` starts with `prefix` and is ended by a line
// feed. `prefix` holds no line feed, so any later one ends that line.
bool hasEndedLineStartingWith(std::string_view input, std::string_view prefix) {
  for (std::size_t at = input.find(prefix); at != std::string_view::npos;
       at = input.find(prefix, at + 1)) {
    if ((at == 0 || input[at - 1] == '\n') &&
        input.find('\n', at + prefix.size()) != std::string_view::npos)
      return true;
  }
  return false;
}

// Gives every entry one success and one failure, then compares the report
// with a layout built independently of the formatter.
void checkReportWithSamples(zelvor::ServerClass serverClass) {
  std::string expected = serverClass.name + "\n";
  std::uint32_t state = 0x80000000u;
  for (zelvor::ServerEntry& entry : serverClass.servers) {
    // Walks through values of both signs, starting at the most negative.
    const auto rtt = static_cast<std::int32_t>(state);
    state = state * 2654435761u + 1u;
    entry.samples = {{nullptr, rtt}, {zelvor::failure::unreachable, rtt}};
    expected += entry.host + ":" + std::to_string(rtt) + ":\n";
    expected += entry.host + "::UNREACHABLE\n";
  }
  expected += "END\n";
  require(zelvor::formatClassReport(serverClass) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const zelvor::ServerCatalogue catalogue = zelvor::parseServerList(input);

  std::size_t entries = 0;
  std::string canonical;
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const zelvor::ServerClass& serverClass = catalogue[i];
    require(isCleanField(serverClass.name));
    for (std::size_t j = 0; j < i; ++j) require(catalogue[j].name != serverClass.name);
    require(!serverClass.servers.empty());
    for (const zelvor::ServerEntry& entry : serverClass.servers) {
      require(isCleanField(entry.host));
      require(entry.samples.empty());
      require(hasEndedLineStartingWith(input, serverClass.name + ":" + entry.host + ":"));
      canonical += serverClass.name + ":" + entry.host + ":80\n";
      ++entries;
    }
    require(zelvor::formatClassReport(serverClass) == serverClass.name + "\nEND\n");
    checkReportWithSamples(serverClass);
  }

  std::size_t lineFeeds = 0;
  for (const char c : input) lineFeeds += c == '\n';
  require(entries <= lineFeeds);

  // The catalogue written back as a clean list must read back unchanged.
  const zelvor::ServerCatalogue reread = zelvor::parseServerList(canonical);
  require(reread.size() == catalogue.size());
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    require(reread[i].name == catalogue[i].name);
    require(reread[i].servers.size() == catalogue[i].servers.size());
    for (std::size_t j = 0; j < catalogue[i].servers.size(); ++j)
      require(reread[i].servers[j].host == catalogue[i].servers[j].host);
  }
  return 0;
}
