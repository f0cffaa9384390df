// A reply as the site's answers give it; the server adds only the framing
// (status line, length, keep-alive).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zelvor::site {

struct Reply {
  int status = 200;
  // Content-Type among them, in the order they are sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Close the connection once this reply is written: the rest of the
  // request was left unread, so the next bytes are not a request.
  bool close = false;

  // The value of the first header named `name` exactly; empty when none.
  const std::string& header(const std::string& name) const {
    static const std::string none;
    for (const auto& [key, value] : headers)
      if (key == name) return value;
    return none;
  }
};

}  // namespace zelvor::site
