#include "site/request_framing.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

namespace zelvor::site {

namespace {

constexpr std::string_view headEnd = "\r\n\r\n";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct DeclaredBody {
  // None: no Content-Length at all.
  std::optional<std::size_t> length;
  // A length that does not read, or a body whose end only the worker can
  // find (chunked).
  bool unknown = false;
};

// The header lines after the request line, without the blank line.
DeclaredBody declaredBody(std::string_view head) {
  DeclaredBody body;
  const std::size_t requestLineEnd = head.find("\r\n");
  if (requestLineEnd == std::string_view::npos) return body;
  head.remove_prefix(requestLineEnd + 2);
  while (!head.empty()) {
    const std::size_t end = std::min(head.find("\r\n"), head.size());
    const std::string_view line = head.substr(0, end);
    head.remove_prefix(std::min(head.size(), end + 2));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (equalsIgnoringCase(name, "transfer-encoding")) body.unknown = true;
    if (!equalsIgnoringCase(name, "content-length")) continue;
    std::size_t length = 0;
    const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (error != std::errc() || stop != value.data() + value.size() || body.length)
      body.unknown = true;
    body.length = length;
  }
  return body;
}

}  // namespace

bool readyToServe(std::string_view received, const Gathering& limits) {
  const std::size_t end = received.find(headEnd);
  if (end == std::string_view::npos) return received.size() >= limits.headBytes;
  const DeclaredBody body = declaredBody(received.substr(0, end));
  if (body.unknown || !body.length || *body.length > limits.bodyBytes) return true;
  return received.size() - (end + headEnd.size()) >= *body.length;
}

}  // namespace zelvor::site
