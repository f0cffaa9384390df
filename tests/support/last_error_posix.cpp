// The last system error off Windows is errno.
#include <cerrno>

#include "last_error.hpp"

namespace zelvor::test {

void setLastErrorCode(std::int32_t code) { errno = code; }

}  // namespace zelvor::test
