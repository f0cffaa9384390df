// The Windows Sockets start-up that every exchange raises by one and lowers
// again. Elsewhere sockets need no start-up and both calls do nothing.
#pragma once

namespace kelvo {

// Starts Windows Sockets; throws the text "Failed to load winsock".
void startWinsock();
// Undoes one startWinsock.
void cleanupWinsock() noexcept;

// startWinsock for one scope.
class WinsockSession {
 public:
  WinsockSession() { startWinsock(); }
  ~WinsockSession() { cleanupWinsock(); }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
};

}  // namespace kelvo
