// The two exchanges and the reply reader.
#include "net/http_client.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "net/http_scan.hpp"
#include "net/winsock.hpp"

namespace zelvor {

namespace {

constexpr int statusLineSize = 128;
constexpr int headerLineSize = 256;
// The most one receive of the body takes. The body grows only by what
// arrives: an announced length is a limit, never an allocation, so a reply
// cannot make us reserve memory for bytes it never sends.
constexpr int bodyChunkSize = 64 * 1024;

constexpr const char* badResponsePrefix = "Bad HTTP Response: ";
constexpr const char* httpFailurePrefix = "HTTP Failure: ";
constexpr const char* unknownEndText = "Unable to determine end of http-document";

// One line through readLine, as C text: a NUL ends what it says.
std::string readTextLine(kelvo::ByteReader& reader, int size) {
  std::string buffer(static_cast<std::size_t>(size), '\0');
  reader.readLine(buffer.data(), size);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

// Appends what comes until a receive yields nothing, or until `limit` bytes
// are there when the reply announced its length.
void readBody(kelvo::ByteReader& reader, std::optional<std::size_t> limit, std::string& body) {
  std::vector<char> chunk(bodyChunkSize);
  for (;;) {
    std::size_t want = chunk.size();
    if (limit) {
      if (body.size() >= *limit) return;
      want = std::min(want, *limit - body.size());
    }
    const int got = reader.readSome(chunk.data(), static_cast<int>(want));
    if (got == 0) return;
    body.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

std::string exchange(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                     const std::string& request, const std::string* body) {
  // Destroyed in reverse: the socket closes before Winsock is cleaned up,
  // on success and on failure alike.
  kelvo::WinsockSession winsock;
  kelvo::Socket socket(host, port, timeoutMs);
  socket.sendAll(request);
  if (body != nullptr) socket.sendAll(*body);
  return readResponse(socket);
}

}  // namespace

std::string getRequest(std::string_view host, std::string_view path) {
  std::string request = "GET ";
  request += path;
  request += " HTTP/1.0\r\nHost: ";
  request += host;
  request += "\r\n\r\n";
  return request;
}

std::string postRequestHead(std::string_view host, std::string_view path, std::size_t bodyLength) {
  std::string request = "POST ";
  request += path;
  request += " HTTP/1.0\r\nContent-length: ";
  request += std::to_string(bodyLength);
  request += "\r\nHost: ";
  request += host;
  request += "\r\n\r\n";
  return request;
}

std::string readResponse(kelvo::ByteReader& reader) {
  const std::string statusLine = readTextLine(reader, statusLineSize);
  const auto status = http::scanStatusCode(statusLine);
  if (!status) throw std::string(badResponsePrefix + statusLine);
  if (*status != 200) throw std::string(httpFailurePrefix + std::to_string(*status));

  std::int32_t contentLength = -1;
  bool closeExpected = true;
  for (;;) {
    const std::string line = http::lowerAscii(readTextLine(reader, headerLineSize));
    if (http::isBlankLine(line)) break;
    if (const auto length = http::scanContentLength(line)) contentLength = *length;
    if (const auto close = http::scanConnectionClose(line)) closeExpected = *close;
  }
  if (!closeExpected && contentLength == -1) throw std::string(unknownEndText);

  // A length below -1 is no length for reading, though it let a connection
  // that stays open pass the check above.
  std::string body;
  readBody(
      reader,
      contentLength > -1 ? std::optional(static_cast<std::size_t>(contentLength)) : std::nullopt,
      body);
  return body;
}

std::string httpGet(const std::string& host, const std::string& path, std::uint16_t port,
                    std::uint32_t timeoutMs) {
  return exchange(host, port, timeoutMs, getRequest(host, path), nullptr);
}

std::string httpPost(const std::string& host, const std::string& path, const std::string& body,
                     std::uint16_t port, std::uint32_t timeoutMs) {
  return exchange(host, port, timeoutMs, postRequestHead(host, path, body.size()), &body);
}

}  // namespace zelvor
