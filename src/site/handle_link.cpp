#include "site/handle_link.hpp"

namespace zelvor::site {

namespace {

bool isUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string handleLink(std::string_view path, std::string_view handle) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string link(path);
  link += "?handle=";
  for (const char c : handle) {
    if (isUrlSafe(c)) {
      link += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    link += '%';
    link += hex[byte >> 4];
    link += hex[byte & 0xF];
  }
  return link;
}

}  // namespace zelvor::site
