#include "ping/raw_echo_engine.hpp"

#include <algorithm>
#include <array>
#include <atomic>

#include "catalogue/failure_texts.hpp"
#include "net/socket.hpp"
#include "ping/icmp_packet.hpp"

namespace zelvor {

namespace {

// Room for an IPv4 header and 256 bytes of ICMP message (an ICMPv6 message
// comes without its header); anything longer is none of ours and is lost.
constexpr std::size_t receiveLimit = 276;
// The longest wait for a datagram; an expired request is noticed at most
// this late.
constexpr std::uint32_t waitSliceMs = 1000;

}  // namespace

std::uint16_t nextSequence() noexcept {
  static std::atomic<std::uint32_t> counter{0};
  std::uint32_t current = counter.load();
  std::uint16_t next = 0;
  do {
    next = detail::followingSequence(current);
  } while (!counter.compare_exchange_weak(current, next));
  return next;
}

RawEchoEngine::Platform RawEchoEngine::systemPlatform() {
  return {[] { return openRawIcmpChannel(); }, kelvo::resolveAddresses, processIdentifier()};
}

RawEchoEngine::RawEchoEngine(RunState& state, Platform platform)
    : state_(state), platform_(std::move(platform)) {}

void RawEchoEngine::run(std::vector<ServerEntry>& servers, std::uint32_t airborne) {
  state_.progress.reset(static_cast<std::uint32_t>(servers.size()) * state_.settings.loops);
  state_.success.clear();
  channel_ = platform_.openChannel();
  servers_ = &servers;
  for (ServerEntry& server : servers) server.samples.clear();
  // After the channel: on Windows its Winsock start-up is what lets names
  // resolve.
  addresses_ = resolveHosts(servers, platform_.resolve, state_.settings.ip, platform_.lookupsAtOnce,
                            state_.stop);
  // With one request in flight per server at most, the lowest free slot
  // always lies below the server count: more slots would never be used.
  slots_.assign(std::min<std::size_t>(airborne, servers.size()), Slot{});
  views_.assign(slots_.size(), SlotView{false, 0, {}});
  serverInFlight_.assign(servers.size(), false);
  if (!slots_.empty()) measure();
  channel_.reset();
  slots_.clear();
  views_.clear();
  serverInFlight_.clear();
  addresses_.clear();
  servers_ = nullptr;
}

void RawEchoEngine::measure() {
  while (!state_.stop.isSet()) {
    while (receiveOne()) {
    }
    expire();
    bool sent = false;
    if (Slot* slot = freeSlot()) {
      if (const auto server = eligibleServer()) {
        send(*server, *slot);
        sent = true;
      } else if (allSlotsFree()) {
        return;
      }
    }
    if (!sent) channel_->waitReadable(waitSliceMs);
  }
}

bool RawEchoEngine::receiveOne() {
  std::array<std::uint8_t, receiveLimit> buffer;
  HostAddress source;
  const std::optional<ReceivedDatagram> received = channel_->receive(buffer, source);
  if (!received || received->length == 0) return false;
  const std::uint32_t receivedAt = state_.clock.before(received->waitedNs);

  const std::span<const std::uint8_t> bytes(buffer.data(), received->length);
  const ReplyClass reply = source.family == IcmpFamily::v6
                               ? classifyIcmp6Reply(bytes, platform_.identifier)
                               : classifyReply(bytes, platform_.identifier);
  const std::optional<std::size_t> match = matchSlot(views_, reply, source);
  if (!match) return true;

  Slot& slot = slots_[*match];
  release(slot);
  EchoSample sample;
  if (reply.kind != ReplyKind::echoReply) {
    sample.failure = replyFailureText(reply.kind);
  } else {
    const std::uint32_t rtt = receivedAt - slot.sentAt;
    if (rtt > state_.settings.timeoutMs) {
      sample.failure = failure::timeout;
    } else {
      sample.rtt = static_cast<std::int32_t>(rtt);
      state_.success.set();
    }
  }
  record(slot.server, sample);
  return true;
}

void RawEchoEngine::expire() {
  const std::uint32_t now = state_.clock.now();
  for (Slot& slot : slots_) {
    if (!slot.busy || now - slot.sentAt <= state_.settings.timeoutMs) continue;
    record(slot.server, EchoSample{failure::timeout, 0});
    release(slot);
  }
}

void RawEchoEngine::send(std::size_t server, Slot& slot) {
  if (!addresses_[server]) {
    record(server, EchoSample{failure::badAddress, 0});
    return;
  }
  slot.address = *addresses_[server];
  slot.server = server;
  slot.sequence = nextSequence();
  slot.sentAt = state_.clock.now();
  const EchoRequest request =
      buildEchoRequest(platform_.identifier, slot.sequence, slot.sentAt, slot.address.family);
  if (!channel_->send(request, slot.address)) {
    record(server, EchoSample{failure::sockError, 0});
    return;
  }
  slot.busy = true;
  views_[indexOf(slot)] = {true, slot.sequence, slot.address};
  serverInFlight_[server] = true;
}

void RawEchoEngine::release(Slot& slot) {
  slot.busy = false;
  views_[indexOf(slot)].busy = false;
  serverInFlight_[slot.server] = false;
}

std::size_t RawEchoEngine::indexOf(const Slot& slot) const {
  return static_cast<std::size_t>(&slot - slots_.data());
}

RawEchoEngine::Slot* RawEchoEngine::freeSlot() {
  const auto free =
      std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
  return free == slots_.end() ? nullptr : &*free;
}

std::optional<std::size_t> RawEchoEngine::eligibleServer() const {
  const std::vector<ServerEntry>& servers = *servers_;
  for (std::size_t i = 0; i < servers.size(); ++i) {
    if (servers[i].samples.size() < state_.settings.loops && !serverInFlight_[i]) return i;
  }
  return std::nullopt;
}

bool RawEchoEngine::allSlotsFree() const {
  return std::none_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.busy; });
}

void RawEchoEngine::record(std::size_t server, EchoSample sample) {
  (*servers_)[server].samples.push_back(sample);
  state_.progress.advance();
}

}  // namespace zelvor
