// A minimal HTTP/1.0 client: one GET and one POST, each a complete exchange
// on a fresh socket, and the reply reader they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/byte_reader.hpp"
#include "net/socket.hpp"

namespace zelvor {

// What a reply with a failure status throws, before its code: the site is
// there, but refused the request.
inline constexpr const char* httpFailurePrefix = "HTTP Failure: ";

// The body of the reply to a GET of `path` from `host`, of at most
// `maxBodyBytes`. Throws a kelvo::Failure: the socket's, or one for a reply
// that is not a whole 200 with a determinable end within that size.
std::string httpGet(const std::string& host, const std::string& path, std::uint16_t port,
                    std::size_t maxBodyBytes,
                    std::uint32_t timeoutMs = kelvo::Socket::defaultTimeoutMs);

// The body of the reply to a POST of `body` to `path` on `host`, of at most
// `maxBodyBytes`. Throws as httpGet does.
std::string httpPost(const std::string& host, const std::string& path, const std::string& body,
                     std::uint16_t port, std::size_t maxBodyBytes,
                     std::uint32_t timeoutMs = kelvo::Socket::defaultTimeoutMs);

// Reads a reply's status line, header and body, and returns the body of a
// 200 reply. Throws "Bad HTTP Response: " and the status line, "HTTP
// Failure: " and the code, or "Unable to determine end of http-document".
//
// A body longer than `maxBodyBytes` throws "Bad HTTP Response: body over N
// bytes" (N the bound): at once when its announced length says so,
// otherwise once one byte more than the bound has come, so that no more
// than the bound and the reader's read-ahead is ever read. A body that ends
// before its announced length throws "Bad HTTP Response: body of N bytes, M
// announced": a site that died mid-reply must not hand on a part of a
// handle or of a list.
std::string readResponse(kelvo::ByteReader& reader, std::size_t maxBodyBytes);

// The exact request texts. The POST body follows its head unchanged.
std::string getRequest(std::string_view host, std::string_view path);
std::string postRequestHead(std::string_view host, std::string_view path, std::size_t bodyLength);

}  // namespace zelvor
