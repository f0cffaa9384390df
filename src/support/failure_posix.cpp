#include <cerrno>

#include "support/failure.hpp"

namespace kelvo {

std::int32_t lastErrorCode() noexcept { return errno; }

}  // namespace kelvo
