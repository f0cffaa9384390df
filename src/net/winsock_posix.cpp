#include "net/winsock.hpp"

namespace kelvo {

void startWinsock() {}

void cleanupWinsock() noexcept {}

}  // namespace kelvo
