#include "net/http_client.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "net/http_scan.hpp"
#include "net/winsock.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

constexpr int statusLineSize = 128;
constexpr int headerLineSize = 256;
// The most one receive of the body takes. The body grows only by what
// arrives: an announced length is a limit, never an allocation, so a reply
// cannot make us reserve memory for bytes it never sends.
constexpr int bodyChunkSize = 64 * 1024;

constexpr const char* badResponsePrefix = "Bad HTTP Response: ";
constexpr const char* unknownEndText = "Unable to determine end of http-document";
// Both follow badResponsePrefix.
constexpr const char* bodyOverText = "body over ";
constexpr const char* bodyOfText = "body of ";

// One line through readLine, as C text: a NUL ends what it says.
std::string readTextLine(kelvo::ByteReader& reader, int size) {
  std::string buffer(static_cast<std::size_t>(size), '\0');
  reader.readLine(buffer.data(), size);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

// What comes until a receive yields nothing or `limit` bytes are there.
std::string readBody(kelvo::ByteReader& reader, std::size_t limit) {
  std::string body;
  std::vector<char> chunk(bodyChunkSize);
  while (body.size() < limit) {
    const std::size_t want = std::min(chunk.size(), limit - body.size());
    const int got = reader.readSome(chunk.data(), static_cast<int>(want));
    if (got == 0) break;
    body.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return body;
}

kelvo::Failure bodyTooLong(std::size_t maxBodyBytes) {
  return kelvo::Failure(badResponsePrefix + (bodyOverText + std::to_string(maxBodyBytes)) +
                        " bytes");
}

kelvo::Failure bodyCutShort(std::size_t received, std::size_t announced) {
  return kelvo::Failure(badResponsePrefix + (bodyOfText + std::to_string(received)) + " bytes, " +
                        std::to_string(announced) + " announced");
}

std::string exchange(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                     const std::string& request, const std::string* body,
                     std::size_t maxBodyBytes) {
  // Destroyed in reverse: the socket closes before Winsock is cleaned up,
  // on success and on failure alike.
  kelvo::WinsockSession winsock;
  kelvo::Socket socket(host, port, timeoutMs);
  socket.sendAll(request);
  if (body != nullptr) socket.sendAll(*body);
  return readResponse(socket, maxBodyBytes);
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

std::string readResponse(kelvo::ByteReader& reader, std::size_t maxBodyBytes) {
  const std::string statusLine = readTextLine(reader, statusLineSize);
  const auto status = http::scanStatusCode(statusLine);
  if (!status) throw kelvo::Failure(badResponsePrefix + statusLine);
  if (*status != 200) throw kelvo::Failure(httpFailurePrefix + std::to_string(*status));

  std::int32_t contentLength = -1;
  bool closeExpected = true;
  for (;;) {
    const std::string line = http::lowerAscii(readTextLine(reader, headerLineSize));
    if (http::isBlankLine(line)) break;
    if (const auto length = http::scanContentLength(line)) contentLength = *length;
    if (const auto close = http::scanConnectionClose(line)) closeExpected = *close;
  }
  if (!closeExpected && contentLength == -1) throw kelvo::Failure(unknownEndText);

  // A length below -1 is no length for reading, though it let a connection
  // that stays open pass the check above.
  if (contentLength > -1) {
    const auto announced = static_cast<std::size_t>(contentLength);
    if (announced > maxBodyBytes) throw bodyTooLong(maxBodyBytes);
    std::string body = readBody(reader, announced);
    if (body.size() < announced) throw bodyCutShort(body.size(), announced);
    return body;
  }
  // One byte past the bound tells a body that is too long from one that
  // fills it exactly.
  const std::size_t limit =
      maxBodyBytes < std::numeric_limits<std::size_t>::max() ? maxBodyBytes + 1 : maxBodyBytes;
  std::string body = readBody(reader, limit);
  if (body.size() > maxBodyBytes) throw bodyTooLong(maxBodyBytes);
  return body;
}

std::string httpGet(const std::string& host, const std::string& path, std::uint16_t port,
                    std::size_t maxBodyBytes, std::uint32_t timeoutMs) {
  return exchange(host, port, timeoutMs, getRequest(host, path), nullptr, maxBodyBytes);
}

std::string httpPost(const std::string& host, const std::string& path, const std::string& body,
                     std::uint16_t port, std::size_t maxBodyBytes, std::uint32_t timeoutMs) {
  return exchange(host, port, timeoutMs, postRequestHead(host, path, body.size()), &body,
                  maxBodyBytes);
}

}  // namespace zelvor
