// A loopback HTTP server for benchmarks: it answers every request with one
// fixed reply, a fresh connection each time, until it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "loopback_socket.hpp"

namespace zelvor::bench {

class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(std::string reply);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t port() const noexcept { return port_; }

 private:
  void serve();

  zelvor::test::LoopbackSocket listener_;
  std::uint16_t port_;
  std::string reply_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zelvor::bench
