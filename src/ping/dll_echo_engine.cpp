#include "ping/dll_echo_engine.hpp"

#include <algorithm>
#include <array>

#include "catalogue/failure_texts.hpp"
#include "net/socket.hpp"

namespace zelvor {

namespace {
constexpr std::size_t echoDataSize = 64;
constexpr std::uint8_t echoDataByte = 0xAA;
}  // namespace

DllEchoEngine::Platform DllEchoEngine::systemPlatform() {
  return {[] { return bindEchoService(); }, kelvo::resolveAddresses};
}

DllEchoEngine::DllEchoEngine(RunState& state, Platform platform)
    : state_(state), platform_(std::move(platform)) {}

void DllEchoEngine::run(std::vector<ServerEntry>& servers, std::uint32_t threads) {
  state_.progress.reset(static_cast<std::uint32_t>(servers.size()) * state_.settings.loops);
  state_.success.clear();
  service_ = platform_.bindService();
  abandoned_ = false;
  // After the service: on Windows its Winsock start-up is what lets names
  // resolve.
  const std::vector<std::optional<HostAddress>> addresses = resolveHosts(
      servers, platform_.resolve, state_.settings.ip, platform_.lookupsAtOnce, state_.stop);
  // A worker beyond the server count would be dealt nothing.
  threads = static_cast<std::uint32_t>(std::min<std::size_t>(threads, servers.size()));
  if (threads == 0 || state_.stop.isSet()) {
    service_.reset();
    return;
  }

  std::vector<std::unique_ptr<Worker>> workers;
  for (std::uint32_t t = 0; t < threads; ++t) {
    workers.push_back(std::make_unique<Worker>());
    workers.back()->engine = this;
    workers.back()->servers.reserve(servers.size() / threads + 1);
    workers.back()->addresses.reserve(servers.size() / threads + 1);
  }
  for (std::size_t i = 0; i < servers.size(); ++i) {
    workers[i % threads]->servers.push_back(servers[i]);
    workers[i % threads]->addresses.push_back(addresses[i]);
  }

  // Every started worker is waited for, on every path: each uses this
  // engine, the service and its own record until it ends.
  const auto waitForAll = [&workers] {
    for (const auto& worker : workers) worker->thread.wait(kelvo::Thread::infinite);
  };
  try {
    for (const auto& worker : workers) worker->thread.start(workerBody, worker.get());
  } catch (...) {
    abandoned_ = true;
    waitForAll();
    service_.reset();
    throw;
  }
  waitForAll();

  if (!state_.stop.isSet()) {
    for (std::size_t i = 0; i < servers.size(); ++i) {
      servers[i] = std::move(workers[i % threads]->servers[i / threads]);
    }
  }
  service_.reset();
}

std::uint32_t DllEchoEngine::workerBody(void* argument) {
  auto& worker = *static_cast<Worker*>(argument);
  worker.engine->work(worker);
  return 0;
}

void DllEchoEngine::work(Worker& worker) {
  for (ServerEntry& server : worker.servers) server.samples.clear();
  for (std::uint32_t round = 0; round < state_.settings.loops; ++round) {
    for (std::size_t i = 0; i < worker.servers.size(); ++i) {
      if (shouldStop()) return;
      ServerEntry& server = worker.servers[i];
      const EchoSample sample = echoOnce(worker.addresses[i], state_.settings.timeoutMs);
      if (sample.failure == nullptr) state_.success.set();
      server.samples.push_back(sample);
      state_.progress.advance();
    }
  }
}

EchoSample DllEchoEngine::echoOnce(const std::optional<HostAddress>& address,
                                   std::uint32_t timeoutMs) {
  if (!address) return {failure::badAddress, 0};
  kelvo::MutexLock lock(echoLock_);
  std::unique_ptr<EchoHandle> handle = service_->open(address->family);
  if (!handle) return {failure::serviceFailure, 0};
  lock.release();

  std::array<std::uint8_t, echoDataSize> data;
  data.fill(echoDataByte);
  const EchoOutcome outcome = handle->echo(*address, data, timeoutMs);

  lock.acquire(kelvo::Thread::infinite);
  handle.reset();
  if (!outcome.replied) return {failure::serviceFailure, 0};
  return {nullptr, static_cast<std::int32_t>(outcome.roundTripMs)};
}

}  // namespace zelvor
