// WinError's three constructions.
#include "support/error.hpp"

#include <utility>

namespace kelvo {

namespace {
constexpr const char* windowsErrorPrefix = "Windows error ";
}

WinError::WinError() : WinError(lastErrorCode()) {}

WinError::WinError(std::int32_t code) : std::string(windowsErrorPrefix + std::to_string(code)) {}

WinError::WinError(std::string text) : std::string(std::move(text)) {}

}  // namespace kelvo
