// The one escape for text that came from a report or the server list,
// applied where the text is written into a page.
#pragma once

#include <string>
#include <string_view>

namespace zelvor::site {

std::string escapeHtml(std::string_view text);
void appendEscapedHtml(std::string& out, std::string_view text);

}  // namespace zelvor::site
