#include <winsock2.h>

#include <string>

#include "net/winsock.hpp"
#include "support/failure.hpp"

namespace kelvo {

void startWinsock() {
  WSADATA startupData;  // nothing reads it
  if (WSAStartup(MAKEWORD(1, 0), &startupData) != 0) throw kelvo::Failure("Failed to load winsock");
}

void cleanupWinsock() noexcept { WSACleanup(); }

}  // namespace kelvo
