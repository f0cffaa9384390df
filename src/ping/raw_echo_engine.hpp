// The raw-socket echo engine: builds its own echo requests, keeps several in
// flight, and times each reply on the run's millisecond clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ping/host_lookup.hpp"
#include "ping/icmp_packet.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// The process-wide sequence counter: each request takes the next number,
// and after 65535 comes 1, so a sequence is never 0. It keeps counting
// across runs.
std::uint16_t nextSequence() noexcept;

namespace detail {
// The sequence that follows `current` (0 at start-up).
constexpr std::uint16_t followingSequence(std::uint32_t current) noexcept {
  return current >= 65535 ? 1 : static_cast<std::uint16_t>(current + 1);
}
}  // namespace detail

class RawEchoEngine {
 public:
  // What the engine needs of the system, replaced by scripted parts in tests.
  struct Platform {
    std::function<std::unique_ptr<RawIcmpChannel>()> openChannel;
    Resolver resolve;
    std::uint16_t identifier;  // of our requests
    std::uint32_t lookupsAtOnce = defaultLookupsAtOnce;
  };
  static Platform systemPlatform();

  RawEchoEngine(RunState& state, Platform platform);

  // Gives every server the run's settings.loops echoes, with at most
  // `airborne` requests in flight, at most one per server (so never more
  // slots than servers).
  // Resolves every host before the first request; a host that does not
  // resolve gets BADADDRESS samples in the places its requests would have
  // taken. Every sample advances the progress counter. Returns once every
  // server has its samples, or at the stop event with partial samples.
  // Throws the channel's failure texts before it touches any sample.
  void run(std::vector<ServerEntry>& servers, std::uint32_t airborne);

 private:
  struct Slot {
    bool busy = false;
    std::uint16_t sequence = 0;
    std::uint32_t sentAt = 0;
    HostAddress address;
    std::size_t server = 0;
  };

  void measure();
  bool receiveOne();
  void expire();
  void send(std::size_t server, Slot& slot);
  // Frees a slot whose request was answered or given up.
  void release(Slot& slot);
  std::size_t indexOf(const Slot& slot) const;
  Slot* freeSlot();
  // The lowest-index server with echoes still to send and none in flight.
  std::optional<std::size_t> eligibleServer() const;
  bool allSlotsFree() const;
  void record(std::size_t server, EchoSample sample);

  RunState& state_;
  Platform platform_;
  std::vector<ServerEntry>* servers_ = nullptr;
  std::vector<std::optional<HostAddress>> addresses_;  // by server
  std::vector<Slot> slots_;
  // Both kept in step as slots are taken and freed: with every host in
  // flight at once, rebuilding them would scan every slot for each datagram,
  // and for each server passed over when picking the next, and cost more
  // than the system calls around them.
  std::vector<SlotView> views_;       // the slots as matching sees them
  std::vector<bool> serverInFlight_;  // by server
  std::unique_ptr<RawIcmpChannel> channel_;
};

}  // namespace zelvor
