// Fuzz target for readResponse: whatever a server sends, in whatever pieces,
// the reader ends with a body made of bytes that really came, or with one of
// its failure texts, and never with anything else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory_reader.hpp"
#include "net/http_client.hpp"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string reply;
  for (const std::string& piece : piecesOf(input)) reply += piece;
  zelvor::test::MemoryReader reader(piecesOf(input));
  try {
    const std::string body = zelvor::readResponse(reader);
    // The body is a run of bytes that really came, after a status line that
    // began with "HTTP/", and no more than came.
    require(startsWith(reply, "HTTP/"));
    require(body.size() + 5 <= reader.consumed());
    require(body.empty() || reply.find(body, 5) != std::string::npos);
  } catch (const std::string& failure) {
    require(startsWith(failure, "Bad HTTP Response: ") || startsWith(failure, "HTTP Failure: ") ||
            failure == "Unable to determine end of http-document");
  }
  return 0;
}
