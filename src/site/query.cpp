#include "site/query.hpp"

#include <algorithm>

namespace zelvor::site {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> percentDecoded(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexDigit(text[i + 1]);
      const int low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return out;
}

namespace {

// The undecoded value of the first pair named `name`.
std::optional<std::string_view> rawQueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(query.size(), end + 1));
    const std::size_t equals = std::min(pair.find('='), pair.size());
    if (percentDecoded(pair.substr(0, equals), true) != std::string(name)) continue;
    return pair.substr(std::min(pair.size(), equals + 1));
  }
  return std::nullopt;
}

}  // namespace

std::string queryValue(std::string_view query, std::string_view name) {
  const std::optional<std::string_view> raw = rawQueryValue(query, name);
  if (!raw) return {};
  return percentDecoded(*raw, true).value_or(std::string());
}

std::optional<std::string> givenQueryValue(std::string_view query, std::string_view name) {
  const std::optional<std::string_view> raw = rawQueryValue(query, name);
  if (!raw) return std::nullopt;
  return percentDecoded(*raw, true).value_or(std::string(*raw));
}

}  // namespace zelvor::site
