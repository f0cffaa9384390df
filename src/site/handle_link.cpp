#include "site/handle_link.hpp"

namespace zelvor::site {

namespace {

bool isUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

void appendEncoded(std::string& link, std::string_view value) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : value) {
    if (isUrlSafe(c)) {
      link += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    link += '%';
    link += hex[byte >> 4];
    link += hex[byte & 0xF];
  }
}

}  // namespace

std::string queryLink(std::string_view path, std::initializer_list<QueryParameter> parameters) {
  return queryLink(path, std::span(parameters.begin(), parameters.size()));
}

std::string queryLink(std::string_view path, std::span<const QueryParameter> parameters) {
  std::string link(path);
  char separator = '?';
  for (const auto& [name, value] : parameters) {
    link += separator;
    link += name;
    link += '=';
    appendEncoded(link, value);
    separator = '&';
  }
  return link;
}

std::string handleLink(std::string_view path, std::string_view handle) {
  return queryLink(path, {{"handle", handle}});
}

}  // namespace zelvor::site
