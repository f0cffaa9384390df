// The simulated network and echo service.
#include "fake_echo.hpp"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "ping/icmp_wire.hpp"

namespace zelvor::test {

std::uint32_t ipv4(const std::string& dotted) {
  std::uint8_t bytes[4] = {};
  std::istringstream in(dotted);
  for (int i = 0; i < 4; ++i) {
    unsigned part = 0;
    char dot = '.';
    in >> part;
    if (i < 3) in >> dot;
    bytes[i] = static_cast<std::uint8_t>(part);
  }
  std::uint32_t address = 0;
  std::memcpy(&address, bytes, 4);
  return address;
}

bool resolveDotted(const char* host, kelvo::SocketAddress& address) {
  address = kelvo::SocketAddress{};
  int dots = 0;
  for (const char* c = host; *c != '\0'; ++c) {
    if (*c == '.') {
      ++dots;
    } else if (*c < '0' || *c > '9') {
      return false;
    }
  }
  if (dots != 3) return false;
  address.family = 2;
  address.address = ipv4(host);
  return true;
}

std::string host(int n) { return "198.18.1." + std::to_string(n); }

std::vector<ServerEntry> serversOf(const std::vector<std::string>& hosts) {
  std::vector<ServerEntry> servers;
  for (const std::string& h : hosts) servers.push_back({h, {}});
  return servers;
}

std::vector<ServerEntry> numberedServers(int count) {
  std::vector<std::string> hosts;
  for (int i = 0; i < count; ++i) hosts.push_back(host(i));
  return serversOf(hosts);
}

std::vector<std::uint8_t> FakeIcmpNetwork::datagram(std::uint32_t source,
                                                    std::vector<std::uint8_t> icmp,
                                                    std::size_t optionWords) {
  const std::size_t header = 20 + 4 * optionWords;
  // Sized once: GCC 12 at -O3 misreads an insert at the end of a fresh
  // vector as a write out of bounds.
  std::vector<std::uint8_t> bytes(header + icmp.size(), 0);
  bytes[0] = static_cast<std::uint8_t>(0x40 | (header / 4));
  bytes[8] = 64;  // time to live
  bytes[9] = 1;   // ICMP
  std::memcpy(&bytes[12], &source, 4);
  for (std::size_t i = 20; i < header; ++i) bytes[i] = 1;  // no-operation options
  std::copy(icmp.begin(), icmp.end(), bytes.begin() + static_cast<std::ptrdiff_t>(header));
  return bytes;
}

void FakeIcmpNetwork::deliverAt(std::uint32_t time, std::vector<std::uint8_t> bytes,
                                std::uint32_t source) {
  pending_.push_back({time, nextOrder_++, std::move(bytes), source});
  std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
    return a.due != b.due ? a.due < b.due : a.order < b.order;
  });
}

bool FakeIcmpNetwork::send(std::span<const std::uint8_t> message, const kelvo::SocketAddress& to) {
  const std::uint32_t now = clock_.now();
  clock_.advance(sendMs_);
  // Little-endian: the raw engine's request lays its fields out so.
  const std::uint16_t sequence = icmp::readLittle16(message, icmp::sequenceAt);
  sent_.push_back({now, to.address, sequence, {message.begin(), message.end()}});
  const auto found = plans_.find(to.address);
  const HostPlan plan = found == plans_.end() ? HostPlan{} : found->second;
  std::vector<std::uint8_t> reply(message.begin(), message.end());
  reply[icmp::typeAt] = icmp::echoReply;
  switch (plan.behaviour) {
    case HostBehaviour::sendFails:
      sent_.pop_back();
      return false;
    case HostBehaviour::drop:
      return true;
    case HostBehaviour::reply:
      deliverAt(now + plan.delayMs, datagram(to.address, reply), to.address);
      return true;
    case HostBehaviour::twice:
      deliverAt(now + plan.delayMs, datagram(to.address, reply), to.address);
      deliverAt(now + 2 * plan.delayMs, datagram(to.address, reply), to.address);
      return true;
    case HostBehaviour::foreign:
      icmp::writeLittle16(
          reply, icmp::identifierAt,
          static_cast<std::uint16_t>(~icmp::readLittle16(reply, icmp::identifierAt)));
      deliverAt(now + plan.delayMs, datagram(to.address, reply), to.address);
      return true;
    case HostBehaviour::unreachable:
    case HostBehaviour::expired: {
      const bool unreachable = plan.behaviour == HostBehaviour::unreachable;
      const std::uint32_t from = unreachable ? to.address : ipv4(routerAddress);
      std::vector<std::uint8_t> error(icmp::headerSize, 0);
      error[icmp::typeAt] = unreachable ? icmp::destinationUnreachable : icmp::timeExceeded;
      error[icmp::codeAt] = unreachable ? icmp::hostUnreachable : icmp::ttlExceededInTransit;
      const std::vector<std::uint8_t> quoted = datagram(to.address, reply);
      error.insert(error.end(), quoted.begin(), quoted.begin() + 28);
      deliverAt(now + plan.delayMs, datagram(from, error), from);
      return true;
    }
    case HostBehaviour::options:
    case HostBehaviour::far:
      throw std::logic_error("FakeIcmpNetwork: only the ICMP test peer plays options and far");
  }
  return true;
}

std::optional<zelvor::ReceivedDatagram> FakeIcmpNetwork::receive(std::span<std::uint8_t> buffer,
                                                                 kelvo::SocketAddress& source) {
  if (pending_.empty() || pending_.front().due > clock_.now()) return std::nullopt;
  Pending next = std::move(pending_.front());
  pending_.erase(pending_.begin());
  if (next.datagram.size() > buffer.size()) return std::nullopt;
  std::copy(next.datagram.begin(), next.datagram.end(), buffer.begin());
  source = kelvo::SocketAddress{};
  source.family = 2;
  source.address = next.source;
  const std::uint64_t waitedMs = stamps_ ? clock_.now() - next.due : 0;
  return zelvor::ReceivedDatagram{next.datagram.size(), waitedMs * 1000000};
}

void FakeIcmpNetwork::waitReadable(std::uint32_t timeoutMs) {
  waits_.push_back(timeoutMs);
  const std::uint32_t now = clock_.now();
  if (!pending_.empty() && pending_.front().due <= now) return;
  std::uint32_t until = now + timeoutMs;
  if (!pending_.empty()) until = std::min(until, pending_.front().due);
  clock_.set(until);
}

void FakeResolver::name(const std::string& host, const std::string& dotted) {
  std::lock_guard lock(mutex_);
  names_[host] = dotted;
}

void FakeResolver::takes(ManualClock& clock, std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  clock_ = &clock;
  takesMs_ = ms;
}

void FakeResolver::setOnLookup(std::size_t n, kelvo::Event& event) {
  std::lock_guard lock(mutex_);
  setOn_ = n;
  event_ = &event;
}

zelvor::Resolver FakeResolver::resolver() {
  return [this](const char* host, kelvo::SocketAddress& address) { return resolve(host, address); };
}

bool FakeResolver::resolve(const char* host, kelvo::SocketAddress& address) {
  std::unique_lock lock(mutex_);
  const std::size_t sent = sentSoFar_ ? sentSoFar_() : 0;
  lookups_.push_back({host, std::this_thread::get_id(), sent});
  if (lookups_.size() == setOn_ && event_ != nullptr) event_->set();
  if (gatherCount_ != 0 && threads_.insert(std::this_thread::get_id()).second) {
    arrived_.notify_all();
    arrived_.wait_for(lock, std::chrono::seconds(10),
                      [this] { return threads_.size() >= gatherCount_; });
  }
  threads_.insert(std::this_thread::get_id());
  if (clock_ != nullptr) clock_->advance(takesMs_);
  const auto found = names_.find(host);
  return resolveDotted(found == names_.end() ? host : found->second.c_str(), address);
}

std::vector<FakeResolver::Lookup> FakeResolver::lookups() const {
  std::lock_guard lock(mutex_);
  return lookups_;
}

std::vector<std::string> FakeResolver::hostsLookedUp() const {
  std::vector<std::string> hosts;
  for (const Lookup& lookup : lookups()) hosts.push_back(lookup.host);
  return hosts;
}

std::size_t FakeResolver::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

class FakeEchoService::Handle : public EchoHandle {
 public:
  explicit Handle(std::shared_ptr<FakeEchoService> service) : service_(std::move(service)) {}
  ~Handle() override {
    std::lock_guard lock(service_->mutex_);
    --service_->openHandles_;
  }
  EchoOutcome echo(std::uint32_t address, std::span<const std::uint8_t> data,
                   std::uint32_t timeoutMs) override {
    service_->gather();
    if (service_->started_ != nullptr) service_->started_->set();
    if (service_->gate_ != nullptr) service_->gate_->wait(kelvo::Thread::infinite);
    std::lock_guard lock(service_->mutex_);
    service_->echoes_.push_back(
        {std::this_thread::get_id(), address, {data.begin(), data.end()}, timeoutMs});
    const auto found = service_->plans_.find(address);
    return found == service_->plans_.end() ? EchoOutcome{true, 7} : found->second;
  }

 private:
  std::shared_ptr<FakeEchoService> service_;
};

void FakeEchoService::gather() {
  std::unique_lock lock(mutex_);
  if (gatherCount_ == 0 || !gathered_.insert(std::this_thread::get_id()).second) return;
  arrived_.notify_all();
  arrived_.wait_for(lock, std::chrono::seconds(10),
                    [this] { return gathered_.size() >= gatherCount_; });
}

void FakeEchoService::plan(const std::string& dotted, EchoOutcome outcome) {
  std::lock_guard lock(mutex_);
  plans_[ipv4(dotted)] = outcome;
}

std::vector<FakeEchoService::Echo> FakeEchoService::echoes() const {
  std::lock_guard lock(mutex_);
  return echoes_;
}

int FakeEchoService::openHandles() const {
  std::lock_guard lock(mutex_);
  return openHandles_;
}

std::unique_ptr<EchoHandle> FakeEchoService::open() {
  std::lock_guard lock(mutex_);
  if (failOpens_) return nullptr;
  ++openHandles_;
  return std::make_unique<Handle>(shared_from_this());
}

}  // namespace zelvor::test
