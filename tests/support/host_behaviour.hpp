// What a test host does with an echo request: one list for both stand-ins
// that play hosts, the in-process FakeIcmpNetwork and the ICMP test peer
// (icmp_peer/), so that a case can move between them unchanged.
#pragma once

namespace zelvor::test {

// The delay is the one its plan gives.
enum class HostBehaviour {
  reply,        // an echo reply after the delay
  drop,         // nothing
  foreign,      // an echo reply with another identifier, after the delay
  twice,        // two echo replies, after the delay and after twice the delay
  unreachable,  // host unreachable from the host itself, after the delay
  expired,      // time exceeded from a router's address, after the delay
  // Only FakeIcmpNetwork plays this one: on a real path the send is the
  // kernel's, and no host can make it fail.
  sendFails,  // the send itself fails
  // Only the peer plays these two: the fake's network carries no IP options
  // and draws nothing.
  options,  // an echo reply after the delay whose IP header carries options
  far,      // a distant host: each request drawn into a reply or a drop
};

}  // namespace zelvor::test
