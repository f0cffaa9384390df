// The instance name as an abstract Unix socket: the kernel drops it with its
// last descriptor, so a crashed instance leaves nothing behind that would
// keep the next one from starting.
#include <FL/Fl.H>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include "app/fltk/single_instance.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

// An abstract name starts with a NUL and is as long as the length says.
socklen_t abstractAddress(const std::string& name, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Abstract names have no file permissions: anyone may bind or connect to
// one, so both ends make sure the other is the same user.
bool peerIsUs(int socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// True when the instance holding `name` is ours and got the request.
bool askToRaise(const std::string& name) {
  sockaddr_un address{};
  const socklen_t length = abstractAddress(name, address);
  for (int attempt = 1; attempt <= SingleInstance::connectAttempts; ++attempt) {
    const kelvo::OwnedFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return false;
    const int connected = kelvo::retryInterrupted([&] {
      return ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length);
    });
    if (connected == 0) {
      if (!peerIsUs(socket.get())) return false;
      const std::size_t size = std::strlen(SingleInstance::raiseRequest);
      const auto sent = kelvo::retryInterrupted(
          [&] { return ::send(socket.get(), SingleInstance::raiseRequest, size, MSG_NOSIGNAL); });
      return sent == static_cast<ssize_t>(size);
    }
    // Refused: the holder has bound the name but is not listening yet.
    if (errno != ECONNREFUSED && errno != EAGAIN) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(SingleInstance::connectRetryMs));
  }
  return false;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  sockaddr_un address{};
  const socklen_t length = abstractAddress(name, address);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
    if (::listen(fd, SOMAXCONN) == 0) {
      fd_ = fd;
      role_ = Role::first;
      return;
    }
  } else if (errno == EADDRINUSE) {
    // Someone else's process squatting on our name leaves us alone rather
    // than ending at once.
    if (askToRaise(name)) role_ = Role::other;
  }
  ::close(fd);
}

SingleInstance::~SingleInstance() {
  if (watched_) Fl::remove_fd(fd_);
  if (fd_ >= 0) ::close(fd_);
}

void SingleInstance::serve(std::function<void()> raise) {
  if (role_ != Role::first || watched_) return;
  raise_ = std::move(raise);
  Fl::add_fd(fd_, FL_READ, onRequest, this);
  watched_ = true;
}

std::string SingleInstance::userName() { return "zelvor-" + std::to_string(::getuid()); }

void SingleInstance::onRequest(int, void* instance) {
  static_cast<SingleInstance*>(instance)->acceptRequests();
}

// Bounded both ways: a few connections a call, and a short wait for each
// one's bytes, so that no local client can hold the window's thread.
void SingleInstance::acceptRequests() {
  constexpr int connectionsPerCall = 8;
  for (int i = 0; i < connectionsPerCall; ++i) {
    const kelvo::OwnedFd connection(
        kelvo::retryInterrupted([&] { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }));
    if (!connection.valid()) return;
    if (!peerIsUs(connection.get())) continue;
    pollfd ready{connection.get(), POLLIN, 0};
    if (kelvo::retryInterrupted([&] { return ::poll(&ready, 1, requestWaitMs); }) <= 0) continue;
    char request[16];
    const auto received = kelvo::retryInterrupted(
        [&] { return ::recv(connection.get(), request, sizeof request, MSG_DONTWAIT); });
    const std::size_t expected = std::strlen(raiseRequest);
    if (received == static_cast<ssize_t>(expected) &&
        std::memcmp(request, raiseRequest, expected) == 0 && raise_) {
      raise_();
    }
  }
}

}  // namespace zelvor
