// A minimal HTTP/1.0 client: one GET and one POST, each a complete exchange
// on a fresh socket, and the reply reader they share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_reader.hpp"
#include "net/socket.hpp"

namespace zelvor {

// The body of the reply to a GET of `path` from `host`. Throws the program's
// failure texts: a kelvo::Socket::Failure, or a plain text for a reply that
// is not a 200 with a determinable end.
std::string httpGet(const std::string& host, const std::string& path, std::uint16_t port,
                    std::uint32_t timeoutMs = kelvo::Socket::defaultTimeoutMs);

// The body of the reply to a POST of `body` to `path` on `host`. Throws as
// httpGet does.
std::string httpPost(const std::string& host, const std::string& path, const std::string& body,
                     std::uint16_t port, std::uint32_t timeoutMs = kelvo::Socket::defaultTimeoutMs);

// Reads a reply's status line, header and body, and returns the body of a
// 200 reply. Throws "Bad HTTP Response: " and the status line, "HTTP
// Failure: " and the code, or "Unable to determine end of http-document".
std::string readResponse(kelvo::ByteReader& reader);

// The exact request texts. The POST body follows its head unchanged.
std::string getRequest(std::string_view host, std::string_view path);
std::string postRequestHead(std::string_view host, std::string_view path, std::size_t bodyLength);

}  // namespace zelvor
