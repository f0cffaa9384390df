#include <windows.h>

#include "support/failure.hpp"
#include "support/resource_string.hpp"

namespace kelvo {

std::string resourceString(std::uint32_t id) {
  char buffer[resourceStringLimit + 1];
  // The program's resources are those of the module that started the
  // process: the executable's instance handle.
  const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  if (length <= 0) throw Failure(detail::unknownResourceText(id));
  return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace kelvo
