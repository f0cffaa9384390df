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

HostAddress ipv4(const std::string& dotted) {
  HostAddress address;
  std::istringstream in(dotted);
  for (int i = 0; i < 4; ++i) {
    unsigned part = 0;
    char dot = '.';
    in >> part;
    if (i < 3) in >> dot;
    address.bytes[i] = static_cast<std::uint8_t>(part);
  }
  return address;
}

HostAddress ipv6(const std::string& text) {
  // The groups before "::" and after it; without "::", all eight before.
  const auto groupsOf = [](const std::string& part) {
    std::vector<std::uint16_t> groups;
    std::istringstream in(part);
    for (std::string group; std::getline(in, group, ':');) {
      groups.push_back(static_cast<std::uint16_t>(std::stoul(group, nullptr, 16)));
    }
    return groups;
  };
  const std::size_t gap = text.find("::");
  const std::vector<std::uint16_t> head = groupsOf(text.substr(0, gap));
  const std::vector<std::uint16_t> tail =
      gap == std::string::npos ? std::vector<std::uint16_t>{} : groupsOf(text.substr(gap + 2));
  std::vector<std::uint16_t> groups = head;
  groups.resize(8 - tail.size(), 0);
  groups.insert(groups.end(), tail.begin(), tail.end());
  HostAddress address{IcmpFamily::v6, {}};
  for (std::size_t i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
  }
  return address;
}

std::vector<HostAddress> resolveLiteral(const char* host) {
  const std::string text = host;
  if (text.find(':') != std::string::npos) return {ipv6(text)};
  if (std::count(text.begin(), text.end(), '.') != 3 ||
      text.find_first_not_of("0123456789.") != std::string::npos) {
    return {};
  }
  return {ipv4(text)};
}

std::string host(int n) { return "198.18.1." + std::to_string(n); }

std::string host6(int n) { return "2001:db8:1::" + std::to_string(n); }

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

std::vector<std::uint8_t> FakeIcmpNetwork::datagram(const HostAddress& source,
                                                    std::vector<std::uint8_t> icmp,
                                                    std::size_t optionWords) {
  if (source.family == IcmpFamily::v6) return icmp;
  const std::size_t header = 20 + 4 * optionWords;
  // Sized once: GCC 12 at -O3 misreads an insert at the end of a fresh
  // vector as a write out of bounds.
  std::vector<std::uint8_t> bytes(header + icmp.size(), 0);
  bytes[0] = static_cast<std::uint8_t>(0x40 | (header / 4));
  bytes[8] = 64;  // time to live
  bytes[9] = 1;   // ICMP
  std::copy(source.bytes.begin(), source.bytes.begin() + 4, bytes.begin() + 12);
  for (std::size_t i = 20; i < header; ++i) bytes[i] = 1;  // no-operation options
  std::copy(icmp.begin(), icmp.end(), bytes.begin() + static_cast<std::ptrdiff_t>(header));
  return bytes;
}

void FakeIcmpNetwork::deliverAt(std::uint32_t time, std::vector<std::uint8_t> bytes,
                                HostAddress source) {
  pending_.push_back({time, nextOrder_++, std::move(bytes), source});
  std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
    return a.due != b.due ? a.due < b.due : a.order < b.order;
  });
}

bool FakeIcmpNetwork::send(std::span<const std::uint8_t> message, const HostAddress& to) {
  const std::uint32_t now = clock_.now();
  clock_.advance(sendMs_);
  // Little-endian: the raw engine's request lays its fields out so.
  const std::uint16_t sequence = icmp::readLittle16(message, icmp::sequenceAt);
  sent_.push_back({now, to, sequence, {message.begin(), message.end()}});
  const auto found = plans_.find(to);
  const HostPlan plan = found == plans_.end() ? HostPlan{} : found->second;
  const bool v6 = to.family == IcmpFamily::v6;
  std::vector<std::uint8_t> reply(message.begin(), message.end());
  reply[icmp::typeAt] = v6 ? icmp6::echoReply : icmp::echoReply;
  switch (plan.behaviour) {
    case HostBehaviour::sendFails:
      sent_.pop_back();
      return false;
    case HostBehaviour::drop:
      return true;
    case HostBehaviour::reply:
      deliverAt(now + plan.delayMs, datagram(to, reply), to);
      return true;
    case HostBehaviour::twice:
      deliverAt(now + plan.delayMs, datagram(to, reply), to);
      deliverAt(now + 2 * plan.delayMs, datagram(to, reply), to);
      return true;
    case HostBehaviour::foreign:
      icmp::writeLittle16(
          reply, icmp::identifierAt,
          static_cast<std::uint16_t>(~icmp::readLittle16(reply, icmp::identifierAt)));
      deliverAt(now + plan.delayMs, datagram(to, reply), to);
      return true;
    case HostBehaviour::unreachable:
    case HostBehaviour::expired: {
      const bool unreachable = plan.behaviour == HostBehaviour::unreachable;
      const HostAddress router = v6 ? ipv6(router6Address) : ipv4(routerAddress);
      const HostAddress from = unreachable ? to : router;
      std::vector<std::uint8_t> error(icmp::headerSize, 0);
      if (v6) {
        error[icmp::typeAt] = unreachable ? icmp6::destinationUnreachable : icmp6::timeExceeded;
        error[icmp::codeAt] =
            unreachable ? icmp6::administrativelyProhibited : icmp6::hopLimitExceeded;
        // An IPv6 header's worth of zeros stands in for the quoted header.
        error.resize(icmp::headerSize + 40, 0);
        error.insert(error.end(), message.begin(), message.begin() + icmp::headerSize);
      } else {
        error[icmp::typeAt] = unreachable ? icmp::destinationUnreachable : icmp::timeExceeded;
        error[icmp::codeAt] = unreachable ? icmp::hostUnreachable : icmp::ttlExceededInTransit;
        const std::vector<std::uint8_t> quoted = datagram(to, reply);
        error.insert(error.end(), quoted.begin(), quoted.begin() + 28);
      }
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
                                                                 HostAddress& source) {
  if (pending_.empty() || pending_.front().due > clock_.now()) return std::nullopt;
  Pending next = std::move(pending_.front());
  pending_.erase(pending_.begin());
  if (next.datagram.size() > buffer.size()) return std::nullopt;
  std::copy(next.datagram.begin(), next.datagram.end(), buffer.begin());
  source = next.source;
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

void FakeResolver::name(const std::string& host, const std::string& address) {
  std::lock_guard lock(mutex_);
  names_[host].push_back(address);
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

std::vector<std::string> FakeResolver::numberedNames(int count) {
  std::vector<std::string> hosts;
  for (int i = 0; i < count; ++i) {
    hosts.push_back("n" + std::to_string(i) + ".test");
    name(hosts.back(), host(i));
  }
  return hosts;
}

zelvor::Resolver FakeResolver::resolver() {
  return [this](const char* host) { return resolve(host); };
}

std::vector<HostAddress> FakeResolver::resolve(const char* host) {
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
  if (found == names_.end()) return resolveLiteral(host);
  std::vector<HostAddress> addresses;
  for (const std::string& address : found->second)
    addresses.push_back(resolveLiteral(address.c_str()).at(0));
  return addresses;
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
  EchoOutcome echo(const HostAddress& address, std::span<const std::uint8_t> data,
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

void FakeEchoService::plan(const std::string& address, EchoOutcome outcome) {
  std::lock_guard lock(mutex_);
  plans_[resolveLiteral(address.c_str()).at(0)] = outcome;
}

std::vector<IcmpFamily> FakeEchoService::opened() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

std::vector<FakeEchoService::Echo> FakeEchoService::echoes() const {
  std::lock_guard lock(mutex_);
  return echoes_;
}

int FakeEchoService::openHandles() const {
  std::lock_guard lock(mutex_);
  return openHandles_;
}

std::unique_ptr<EchoHandle> FakeEchoService::open(IcmpFamily family) {
  std::lock_guard lock(mutex_);
  opened_.push_back(family);
  if (failOpens_) return nullptr;
  ++openHandles_;
  return std::make_unique<Handle>(shared_from_this());
}

}  // namespace zelvor::test
