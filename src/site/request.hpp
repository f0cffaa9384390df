// A request as the site's answers see it: the few parts they read, in the
// site's own types, whatever carried it over the network.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelvor::site {

struct Request {
  std::string method;
  // Percent-decoded, without the query.
  std::string path;
  // As sent, after the '?'; read with queryValue (site/query.hpp).
  std::string query;
  // The declared length of the body; none when the head declares none.
  std::optional<std::uint64_t> contentLength;
  // Any Transfer-Encoding: a body whose length is known only once read.
  bool chunked = false;
  std::string forwardedFor;
  // The connection's peer address, as text.
  std::string peer;
  // Empty while only the head has arrived.
  std::string body;
};

}  // namespace zelvor::site
