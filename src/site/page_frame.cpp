#include "site/page_frame.hpp"

#include "site/html_escape.hpp"
#include "site/page_paths.hpp"

namespace zelvor::site {

std::string pageStart(std::string_view title, std::string_view description) {
  std::string page =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"description\" content=\"";
  page += escapeHtml(description);
  page += "\">\n<title>";
  page += escapeHtml(title);
  page += "</title>\n<link rel=\"stylesheet\" href=\"";
  page += styleSheetPath;
  page +=
      "\">\n"
      "</head>\n"
      "<body>\n"
      "<header class=\"site-header\"><a class=\"site-name\" href=\"/\">Zelvor</a></header>\n"
      "<main>\n";
  return page;
}

std::string_view pageEnd() { return "</main>\n</body>\n</html>\n"; }

}  // namespace zelvor::site
