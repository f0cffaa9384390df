// Fuzz target for readResponse: whatever a server sends, in whatever pieces,
// the reader ends with a body made of bytes that really came, or with one of
// its failure texts, and never with anything else; and a bound on the body
// changes only whether a body too long for it is refused.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "memory_reader.hpp"
#include "net/http_client.hpp"
#include "support/failure.hpp"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The first byte sets the size of the pieces the reply arrives in, so that
// receive boundaries fall everywhere.
std::vector<std::string> piecesOf(std::string_view input) {
  std::vector<std::string> pieces;
  if (input.empty()) return pieces;
  const std::size_t pieceSize = static_cast<unsigned char>(input.front()) % 64 + 1;
  input.remove_prefix(1);
  for (std::size_t at = 0; at < input.size(); at += pieceSize) {
    pieces.emplace_back(input.substr(at, pieceSize));
  }
  return pieces;
}

// The reply read under `maxBodyBytes`: the body, or the failure text.
struct Outcome {
  bool taken;
  std::string text;
  std::size_t consumed;
};

Outcome readUnder(std::string_view input, std::size_t maxBodyBytes) {
  zelvor::test::MemoryReader reader(piecesOf(input));
  try {
    std::string body = zelvor::readResponse(reader, maxBodyBytes);
    return {true, std::move(body), reader.consumed()};
  } catch (const kelvo::Failure& failure) {
    return {false, failure, reader.consumed()};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string reply;
  for (const std::string& piece : piecesOf(input)) reply += piece;

  const Outcome free = readUnder(input, std::numeric_limits<std::size_t>::max());
  if (free.taken) {
    // The body is a run of bytes that really came, after a status line that
    // began with "HTTP/", and no more than came.
    require(startsWith(reply, "HTTP/"));
    require(free.text.size() + 5 <= free.consumed);
    require(free.text.empty() || reply.find(free.text, 5) != std::string::npos);
  } else {
    require(startsWith(free.text, "Bad HTTP Response: ") ||
            startsWith(free.text, "HTTP Failure: ") ||
            free.text == "Unable to determine end of http-document");
  }

  // A bound takes exactly the bodies that fit in it and refuses the others
  // as too long, reading no more than it would without the bound.
  const std::size_t bound = input.empty() ? 0 : static_cast<unsigned char>(input.front()) / 2;
  const std::string tooLong = "Bad HTTP Response: body over " + std::to_string(bound) + " bytes";
  const Outcome bounded = readUnder(input, bound);
  require(bounded.consumed <= free.consumed);
  if (free.taken && free.text.size() <= bound) {
    require(bounded.taken && bounded.text == free.text);
  } else if (free.taken) {
    require(!bounded.taken && bounded.text == tooLong);
  } else {
    require(!bounded.taken);
    require(bounded.text == free.text || bounded.text == tooLong);
  }
  return 0;
}
