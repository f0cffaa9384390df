#include "support/failure.hpp"

#include <utility>

namespace kelvo {

namespace {
constexpr const char* windowsErrorPrefix = "Windows error ";
}

Failure::Failure(std::string text) : std::string(std::move(text)) {}

Failure Failure::lastError() { return ofCode(lastErrorCode()); }

Failure Failure::ofCode(std::int32_t code) {
  return Failure(windowsErrorPrefix + std::to_string(code));
}

}  // namespace kelvo
