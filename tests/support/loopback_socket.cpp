// The loopback socket's half above the platform seam: the waits, sends and
// receives go through the program's own socket layer (net/socket.hpp), which
// already retries what a signal cuts short.
#include "loopback_socket.hpp"

#include <algorithm>
#include <climits>

namespace zelvor::test {

LoopbackSocket::LoopbackSocket() noexcept = default;
LoopbackSocket::LoopbackSocket(HandlePtr handle) noexcept : handle_(std::move(handle)) {}
LoopbackSocket::~LoopbackSocket() = default;
LoopbackSocket::LoopbackSocket(LoopbackSocket&& other) noexcept = default;
LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept = default;

LoopbackSocket::Handle& LoopbackSocket::handle() const {
  if (handle_ == nullptr) throw std::logic_error("LoopbackSocket: no socket is open");
  return *handle_;
}

bool detail::waitFor(kelvo::NativeSocket socket, int mode, std::uint32_t timeoutMs) {
  const int ready = kelvo::waitReady(socket, mode, timeoutMs);
  if (ready < 0) failSocketCall("wait", kelvo::lastSocketErrorCode());
  return ready == 1;
}

std::size_t LoopbackSocket::sendSome(std::string_view bytes, std::uint32_t timeoutMs) {
  const kelvo::NativeSocket socket = native();
  if (bytes.empty() || !detail::waitFor(socket, kelvo::waitWritable, timeoutMs)) return 0;
  const long sent = kelvo::detail::sendOnce(socket, bytes.data(), bytes.size());
  if (sent >= 0) return static_cast<std::size_t>(sent);
  const int code = kelvo::lastSocketErrorCode();
  if (detail::kindOf(code) == detail::SocketErrorKind::wouldBlock) return 0;
  detail::failSocketCall("send", code);
}

ReceiveResult LoopbackSocket::receiveSome(std::string& into, std::size_t maxBytes,
                                          std::uint32_t timeoutMs) {
  const kelvo::NativeSocket socket = native();
  if (maxBytes == 0 || !detail::waitFor(socket, kelvo::waitReadable, timeoutMs)) {
    return ReceiveResult::timedOut;
  }
  const std::size_t start = into.size();
  const int size = static_cast<int>(std::min<std::size_t>(maxBytes, INT_MAX));
  into.resize(start + static_cast<std::size_t>(size));
  const long got = kelvo::detail::receiveOnce(socket, into.data() + start, size);
  const int code = got < 0 ? kelvo::lastSocketErrorCode() : 0;
  into.resize(start + static_cast<std::size_t>(std::max(got, 0L)));
  if (got > 0) return ReceiveResult::received;
  if (got == 0) return ReceiveResult::peerClosed;
  switch (detail::kindOf(code)) {
    case detail::SocketErrorKind::wouldBlock:
      return ReceiveResult::timedOut;
    case detail::SocketErrorKind::reset:
      return ReceiveResult::reset;
    case detail::SocketErrorKind::other:
      break;
  }
  detail::failSocketCall("recv", code);
}

}  // namespace zelvor::test
