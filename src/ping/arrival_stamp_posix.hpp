// The kernel's arrival stamps (SO_TIMESTAMPNS) on the ICMP sockets: a
// datagram is stamped as it comes in, so its round trip does not grow by the
// time the measuring thread takes to get round to reading it.
#pragma once

#include <sys/socket.h>
#include <time.h>

#include <cstdint>
#include <cstring>

namespace zelvor::detail {

// A longer wait than this is a wall clock that was set while the datagram
// waited, not a wait: the stamp is then left unused.
inline constexpr std::int64_t longestCredibleWaitNs = 60'000'000'000;

// Room for the stamp's control message, aligned as the kernel writes it.
struct StampControl {
  alignas(cmsghdr) unsigned char bytes[CMSG_SPACE(sizeof(timespec))];
};

inline bool askForArrivalStamps(int fd) noexcept {
  const int on = 1;
  return ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

inline void expectStamp(msghdr& message, StampControl& control) noexcept {
  message.msg_control = control.bytes;
  message.msg_controllen = sizeof control.bytes;
}

inline std::int64_t realtimeNs() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// How long the datagram that recvmsg has just read into `message` waited
// since it arrived. The kernel stamps in CLOCK_REALTIME, so the wait is taken
// on that clock, and a caller on another clock subtracts it at once; 0 when
// there is no stamp or it is not credible.
inline std::uint64_t waitedSinceArrival(msghdr& message) noexcept {
  if ((message.msg_flags & MSG_CTRUNC) != 0) return 0;
  for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
       part = CMSG_NXTHDR(&message, part)) {
    if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_TIMESTAMPNS) continue;
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
    const std::int64_t waited =
        realtimeNs() - (static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec);
    if (waited <= 0 || waited > longestCredibleWaitNs) return 0;
    return static_cast<std::uint64_t>(waited);
  }
  return 0;
}

}  // namespace zelvor::detail
