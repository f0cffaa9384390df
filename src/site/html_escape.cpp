// The one escape for text from reports: safe in HTML text, in quoted
// attributes and in inline SVG alike.
#include "site/html_escape.hpp"

namespace zelvor::site {

std::string escapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  appendEscapedHtml(escaped, text);
  return escaped;
}

void appendEscapedHtml(std::string& escaped, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
}

}  // namespace zelvor::site
