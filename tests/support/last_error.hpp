// Sets the calling thread's last system error, so that tests can check what
// an error type reads from it.
#pragma once

#include <cstdint>

namespace zelvor::test {

void setLastErrorCode(std::int32_t code);

}  // namespace zelvor::test
