#include <windows.h>

#include "support/failure.hpp"

namespace kelvo {

// A DWORD code is shown in signed decimal, so 0x80004005 reads -2147467259.
std::int32_t lastErrorCode() noexcept { return static_cast<std::int32_t>(GetLastError()); }

}  // namespace kelvo
