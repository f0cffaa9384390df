// One Windows Sockets start-up held by the object that needs it, for as long
// as it lives. The two ICMP paths ask for different versions and fail with
// their own texts, so kelvo::WinsockSession (1.0, its own text) does not fit.
#pragma once

#include <winsock2.h>

#include <string>

#include "support/failure.hpp"

namespace zelvor::detail {

class WinsockStartup {
 public:
  // Throws `failureText` when the start-up fails; nothing is then held.
  WinsockStartup(WORD version, const char* failureText) {
    WSADATA startupData;  // nothing reads it
    if (WSAStartup(version, &startupData) != 0) throw kelvo::Failure(failureText);
  }
  ~WinsockStartup() { WSACleanup(); }
  WinsockStartup(const WinsockStartup&) = delete;
  WinsockStartup& operator=(const WinsockStartup&) = delete;
};

}  // namespace zelvor::detail
