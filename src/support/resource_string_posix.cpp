#include <algorithm>
#include <string_view>

#include "support/failure.hpp"
#include "support/resource_string.hpp"
#include "support/string_table.hpp"

namespace kelvo {

std::string resourceString(std::uint32_t id) {
  const auto table = detail::stringTable();
  const auto entry =
      std::find_if(table.begin(), table.end(), [id](const auto& e) { return e.id == id; });
  const std::string_view text = entry == table.end() ? "" : entry->text;
  if (text.empty()) throw Failure(detail::unknownResourceText(id));
  return std::string(text.substr(0, resourceStringLimit));
}

}  // namespace kelvo
