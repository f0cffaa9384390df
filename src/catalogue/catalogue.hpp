// The server catalogue: the classes of echo servers the site lists, each with
// its hosts and the echo samples taken against them, and the parser that
// builds it from the list body the site serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

struct EchoSample {
  // Null for an echo that came back. Otherwise one of the texts in
  // catalogue/failure_texts.hpp: the pointer itself names the cause, so code
  // may compare it by address instead of by text.
  const char* failure = nullptr;
  // Only meaningful when `failure` is null; a failed sample has no time.
  std::int32_t rtt = 0;
};

struct ServerEntry {
  std::string host;
  std::vector<EchoSample> samples;
};

struct ServerClass {
  std::string name;
  std::vector<ServerEntry> servers;
};

using ServerCatalogue = std::vector<ServerClass>;

// The longest class name or host a list line may carry. A longer line is
// dropped whole: cutting it would test and report a host nobody listed.
inline constexpr std::size_t maxFieldBytes = 127;

// Reads the list body: lines of "class:host:number", each ended by a line
// feed, of which only those with the number 80 are kept. Classes keep the
// order of their first line; every kept line becomes a new entry without
// samples. Anything malformed is skipped, so this never fails.
ServerCatalogue parseServerList(std::string_view text);

}  // namespace zelvor
