#include "support/resource_string.hpp"

namespace kelvo::detail {

std::string unknownResourceText(std::uint32_t id) {
  return "Unknown resource id " + std::to_string(static_cast<std::int32_t>(id));
}

}  // namespace kelvo::detail
