// The last system error on Windows is the thread's last-error value.
#include <windows.h>

#include "last_error.hpp"

namespace zelvor::test {

void setLastErrorCode(std::int32_t code) { SetLastError(static_cast<DWORD>(code)); }

}  // namespace zelvor::test
