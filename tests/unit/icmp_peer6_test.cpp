// The ICMP test peer over IPv6: addresses, reading a request from its message
// and what the kernel tells of its header, the exact bytes of every answer,
// and the plan's IPv6 hosts. The expected packets were worked out apart from
// this code (the checksums over the pseudo-header by a separate script), so a
// wrong field or checksum shows as a wrong byte.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "peer_packet.hpp"
#include "peer_plan.hpp"

namespace {

using zelvor::test::answerRequest;
using zelvor::test::Behaviour;
using zelvor::test::behaviourFor;
using zelvor::test::Bytes;
using zelvor::test::EchoRequest;
using zelvor::test::EchoRequest6;
using zelvor::test::formatIpv6;
using zelvor::test::HostBehaviour;
using zelvor::test::HostRule6;
using zelvor::test::internetChecksum;
using zelvor::test::Ipv6;
using zelvor::test::Ipv6Arrival;
using zelvor::test::OutgoingPacket6;
using zelvor::test::parseBehaviour;
using zelvor::test::parseEchoRequest;
using zelvor::test::parseEchoRequest6;
using zelvor::test::parseHostRule;
using zelvor::test::parseHostRule6;
using zelvor::test::parseIpv6;
using zelvor::test::parsePeerArguments;
using zelvor::test::PeerPlan;
using zelvor::test::PlanError;

Ipv6 address(std::string_view text) {
  const std::optional<Ipv6> parsed = parseIpv6(text);
  if (!parsed) throw std::runtime_error("not an IPv6 address: " + std::string(text));
  return *parsed;
}

const Ipv6 client = address("2001:db8::1");
const Ipv6 host = address("2001:db8:1::1");
const Ipv6 router = address("2001:db8:255::254");

// Echo request 2001:db8::1 -> 2001:db8:1::1, identifier 0xbeef, sequence 1,
// payload "zelvor!!", as a raw ICMPv6 socket reads it: the message alone.
const Bytes requestMessage = {0x80, 0x00, 0xed, 0xdf, 0xbe, 0xef, 0x00, 0x01,
                              0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

// What the kernel told of its header: traffic class 0x10, flow label 0x12345,
// hop limit 64.
const Ipv6Arrival arrival{client, host, 0x01012345, 64};

// The request whole, its header put back together: what errors quote.
const Bytes requestPacket = {0x61, 0x01, 0x23, 0x45, 0x00, 0x10, 0x3a, 0x40, 0x20, 0x01, 0x0d, 0xb8,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                             0x20, 0x01, 0x0d, 0xb8, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x01, 0x80, 0x00, 0xed, 0xdf, 0xbe, 0xef, 0x00, 0x01,
                             0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

// IPv6 header from `source` to the client: `first` is its first byte pair
// (version, traffic class and the flow label's top, which is 0), payload
// length `length`, next header `next`, hop limit 64.
Bytes headerTo(std::uint8_t first, std::uint8_t second, std::uint8_t length, std::uint8_t next,
               const Ipv6& source) {
  Bytes header = {first, second, 0x00, 0x00, 0x00, length, next, 0x40};
  header.insert(header.end(), source.begin(), source.end());
  header.insert(header.end(), client.begin(), client.end());
  return header;
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes payload = {0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

EchoRequest6 parsed6() {
  const std::optional<EchoRequest6> result = parseEchoRequest6(arrival, requestMessage);
  if (!result) throw std::runtime_error("the test request did not parse");
  return *result;
}

// --- addresses ---------------------------------------------------------------

TEST(Ipv6Text, ReadsEveryIpv6FormButNoIpv4Tail) {
  EXPECT_EQ(parseIpv6("2001:db8:1::1"),
            (Ipv6{0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(parseIpv6("2001:DB8:0:0:0:0:0:200"), address("2001:db8::200"));
  EXPECT_EQ(parseIpv6("::"), Ipv6{});
  for (const char* bad : {"", "2001:db8::1::2", "2001:db8:1:1:1:1:1:1:1", "::ffff:198.18.1.1",
                          "198.18.1.1", "2001:db8::g", "2001:db8::1 ", "2001:db8::12345",
                          "2001:0db8:0000:0000:0000:0000:0000:0000:1"}) {
    EXPECT_EQ(parseIpv6(bad), std::nullopt) << bad;
  }
}

TEST(Ipv6Text, FormatsTheShortestLowerCaseForm) {
  EXPECT_EQ(formatIpv6(router), "2001:db8:255::254");
  EXPECT_EQ(formatIpv6(address("2001:DB8:0:0:1:0:0:0")), "2001:db8:0:0:1::");
}

// --- reading requests -------------------------------------------------------------

TEST(ParseEchoRequest6, ReadsAddressesIdentifiersPayloadAndRebuildsTheQuote) {
  const EchoRequest6 got = parsed6();
  EXPECT_EQ(got.source, client);
  EXPECT_EQ(got.destination, host);
  EXPECT_EQ(got.trafficClass, 0x10);
  EXPECT_EQ(got.identifier, 0xbeef);
  EXPECT_EQ(got.sequence, 1);
  EXPECT_EQ(Bytes(got.payload.begin(), got.payload.end()), payload);
  EXPECT_EQ(got.quote, requestPacket);
}

TEST(ParseEchoRequest6, QuotesNoMoreThanFitsTheSmallestLink) {
  // A 1400-byte payload: 1408 of message, so 1448 of packet, cut to 1232.
  // After "zelvor!!" come 1392 bytes of 0x5a; the checksum is 0x42ca.
  Bytes message = requestMessage;
  message.resize(8 + 1400, 0x5a);
  message[2] = 0x42;
  message[3] = 0xca;
  const std::optional<EchoRequest6> got = parseEchoRequest6(arrival, message);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->quote.size(), 1232u);
  EXPECT_EQ(got->quote[4], 0x05);  // the payload length of the whole, 1408
  EXPECT_EQ(got->quote[5], 0x80);
  EXPECT_TRUE(std::equal(got->quote.begin() + 40, got->quote.end(), message.begin()));
}

TEST(ParseEchoRequest6, RejectsWhatAKernelWouldNotAnswer) {
  const auto with = [](std::size_t at, std::uint8_t value) {
    Bytes message = requestMessage;
    message[at] = value;
    return message;
  };
  const Ipv6Arrival elsewhere{client, address("2001:db8:1::2"), 0, 64};
  const struct Case {
    const char* what;
    Ipv6Arrival arrival;
    Bytes message;
  } cases[] = {
      {"an echo reply", arrival, with(0, 0x81)},
      {"code 1", arrival, with(1, 0x01)},
      {"a bad checksum", arrival, with(3, 0xe0)},
      {"a checksum for other addresses", elsewhere, requestMessage},
      {"a header cut short", arrival, Bytes(requestMessage.begin(), requestMessage.begin() + 7)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseEchoRequest6(c.arrival, c.message), std::nullopt) << c.what;
  }
}

// --- answers --------------------------------------------------------------------------

Bytes echoReplyMessage(std::uint8_t checksumHigh, std::uint8_t checksumLow,
                       std::uint16_t identifier) {
  return joined({{0x81, 0x00, checksumHigh, checksumLow, static_cast<std::uint8_t>(identifier >> 8),
                  static_cast<std::uint8_t>(identifier), 0x00, 0x01},
                 payload});
}

const Bytes reply =
    joined({headerTo(0x61, 0x00, 0x10, 0x3a, host), echoReplyMessage(0xec, 0xdf, 0xbeef)});

TEST(AnswerRequest6, EachBehaviourSendsExactlyThesePackets) {
  const Bytes unreachable = joined({headerTo(0x60, 0x00, 0x40, 0x3a, host),
                                    {0x01, 0x03, 0xe4, 0xc0, 0, 0, 0, 0},
                                    requestPacket});
  const Bytes prohibited = joined({headerTo(0x60, 0x00, 0x40, 0x3a, host),
                                   {0x01, 0x01, 0xe4, 0xc2, 0, 0, 0, 0},
                                   requestPacket});
  const Bytes expired = joined({headerTo(0x60, 0x00, 0x40, 0x3a, router),
                                {0x03, 0x00, 0xde, 0x1c, 0, 0, 0, 0},
                                requestPacket});
  const Bytes expiredFromHost = joined({headerTo(0x60, 0x00, 0x40, 0x3a, host),
                                        {0x03, 0x00, 0xe2, 0xc3, 0, 0, 0, 0},
                                        requestPacket});
  const Bytes foreign =
      joined({headerTo(0x61, 0x00, 0x10, 0x3a, host), echoReplyMessage(0x6a, 0xbf, 0x4110)});
  // A destination options header of PadN alone, then the same reply.
  const Bytes options = joined({headerTo(0x61, 0x00, 0x18, 0x3c, host),
                                {0x3a, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00},
                                echoReplyMessage(0xec, 0xdf, 0xbeef)});

  const struct Case {
    const char* behaviour;
    std::vector<OutgoingPacket6> packets;
  } cases[] = {
      {"reply:20", {{20, client, reply}}},
      {"late:1500", {{1500, client, reply}}},
      {"drop", {}},
      {"foreign:3", {{3, client, foreign}}},
      {"twice:40", {{40, client, reply}, {80, client, reply}}},
      {"unreachable", {{0, client, unreachable}}},
      {"unreachable:prohibited", {{0, client, prohibited}}},
      {"expired:2001:db8:255::254", {{0, client, expired}}},
      {"expired:2001:db8:1::1", {{0, client, expiredFromHost}}},
      // A fallback's IPv4 router cannot speak for an IPv6 host.
      {"expired:198.18.255.254", {{0, client, expiredFromHost}}},
      {"options:12", {{12, client, options}}},
      {"far:7:0:0", {{7, client, reply}}},  // undrawn: its least delay
  };
  for (const Case& c : cases) {
    const std::vector<OutgoingPacket6> got = answerRequest(parseBehaviour(c.behaviour), parsed6());
    ASSERT_EQ(got.size(), c.packets.size()) << c.behaviour;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].delayMs, c.packets[i].delayMs) << c.behaviour << " packet " << i;
      EXPECT_EQ(got[i].destination, c.packets[i].destination) << c.behaviour << " packet " << i;
      EXPECT_EQ(got[i].bytes, c.packets[i].bytes) << c.behaviour << " packet " << i;
    }
  }
}

TEST(AnswerRequest, OverIpv4ProhibitedIsCode13AndAnIpv6RouterLeavesTheHostToAnswer) {
  // 198.18.0.1 -> 198.18.1.1, identifier 0xbeef, sequence 1, "zelvor!!".
  const Bytes request = {0x45, 0x00, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00, 0x40, 0x01, 0xdb, 0x7e,
                         0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01, 0x08, 0x00, 0xc1, 0x9f,
                         0xbe, 0xef, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};
  const std::optional<EchoRequest> parsed = parseEchoRequest(request);
  ASSERT_TRUE(parsed);
  const auto plain = answerRequest(parseBehaviour("unreachable"), *parsed, 7);
  const auto prohibited = answerRequest(parseBehaviour("unreachable:prohibited"), *parsed, 7);
  ASSERT_EQ(plain.size(), 1u);
  ASSERT_EQ(prohibited.size(), 1u);
  Bytes expected = plain[0].bytes;
  // Code 1 to 13 adds 12 to the sum, so takes 12 from its complement.
  ASSERT_EQ(expected[21], 0x01);
  expected[21] = 13;
  const std::uint16_t checksum = static_cast<std::uint16_t>(expected[22] << 8 | expected[23]) - 12;
  expected[22] = static_cast<std::uint8_t>(checksum >> 8);
  expected[23] = static_cast<std::uint8_t>(checksum);
  EXPECT_EQ(prohibited[0].bytes, expected);
  EXPECT_EQ(internetChecksum(zelvor::test::ByteView(prohibited[0].bytes).subspan(20)), 0);

  // A fallback's IPv6 router cannot speak for an IPv4 host: the host does.
  const auto expired = answerRequest(parseBehaviour("expired:2001:db8:255::254"), *parsed, 7);
  ASSERT_EQ(expired.size(), 1u);
  EXPECT_EQ(Bytes(expired[0].bytes.begin() + 12, expired[0].bytes.begin() + 22),
            (Bytes{0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 11, 0}));
}

// --- the plan --------------------------------------------------------------------------

TEST(ParseHostRule6, ReadsOneAddressOrALastGroupRangeInHex) {
  const Behaviour reply20{HostBehaviour::reply, 20, 0};
  EXPECT_EQ(parseHostRule6("2001:db8:1::1=reply:20"), (HostRule6{host, host, reply20}));
  EXPECT_EQ(parseHostRule6("2001:db8:2::1-200=reply:20"),
            (HostRule6{address("2001:db8:2::1"), address("2001:db8:2::200"), reply20}));
  EXPECT_EQ(parseHostRule6("2001:db8:2::ff00-FFFF=reply:20"),
            (HostRule6{address("2001:db8:2::ff00"), address("2001:db8:2::ffff"), reply20}));
  Behaviour expired{HostBehaviour::expired, 0, 0};
  expired.router6 = router;
  EXPECT_EQ(parseHostRule6("2001:db8:1::6=expired:2001:db8:255::254"),
            (HostRule6{address("2001:db8:1::6"), address("2001:db8:1::6"), expired}));
}

TEST(ParseHostRule6, RefusesBadAddressesRangesRoutersAndAddressesOutsideTheTestNetwork) {
  for (const char* bad :
       {"2001:db8:1::1", "2001:db8:1::1=", "2001:db8:2::200-1=drop", "2001:db8:2::1-10000=drop",
        "2001:db8:2::1-=drop", "2001:db8:2::1-g=drop", "2001:db8:2::1-2-3=drop", "::1=reply:0",
        "2001:db9::1=reply:0", "fe80::1=reply:0", "2001:db8:1::1=expired:198.18.255.254",
        "2001:db8:1::1=expired:2001:db9::1", "2001:db8:1::1=unreachable:admin"}) {
    EXPECT_THROW(parseHostRule6(bad), PlanError) << bad;
  }
  EXPECT_THROW(parseHostRule("198.18.1.1=expired:2001:db8:255::254"), PlanError);
}

TEST(ParsePeerArguments, TellsTheFamiliesApartAndKeepsEachInOrder) {
  const std::vector<std::string_view> arguments = {"--host",
                                                   "198.18.1.1=reply:20",
                                                   "--host=2001:db8:1::1=drop",
                                                   "--host",
                                                   "2001:db8:1::1=twice:5",
                                                   "--default",
                                                   "unreachable:prohibited"};
  const PeerPlan plan = parsePeerArguments(arguments);
  ASSERT_EQ(plan.hosts.size(), 1u);
  EXPECT_EQ(plan.hosts[0].behaviour, (Behaviour{HostBehaviour::reply, 20, 0}));
  ASSERT_EQ(plan.hosts6.size(), 2u);
  EXPECT_EQ(plan.hosts6[0].behaviour, (Behaviour{HostBehaviour::drop, 0, 0}));
  EXPECT_EQ(plan.hosts6[1].behaviour, (Behaviour{HostBehaviour::twice, 5, 0}));
  EXPECT_EQ(behaviourFor(plan, host)->action, HostBehaviour::twice);  // the last wins
  EXPECT_TRUE(plan.fallback.prohibited);
}

TEST(BehaviourFor6, TheFallbackCoversOnlyTheThreeHostNetworks) {
  const std::vector<std::string_view> arguments = {"--default", "drop",
                                                   "--host",    "2001:db8:2::1-200=reply:5",
                                                   "--host",    "2001:db8:255::1=twice:1"};
  const PeerPlan plan = parsePeerArguments(arguments);
  const auto actionAt = [&](const char* text) -> std::optional<HostBehaviour> {
    const Behaviour* behaviour = behaviourFor(plan, address(text));
    return behaviour ? std::optional(behaviour->action) : std::nullopt;
  };
  EXPECT_EQ(actionAt("2001:db8:2::1"), HostBehaviour::reply);
  EXPECT_EQ(actionAt("2001:db8:2::200"), HostBehaviour::reply);
  EXPECT_EQ(actionAt("2001:db8:2::201"), HostBehaviour::drop);  // fallback
  EXPECT_EQ(actionAt("2001:db8:1::"), HostBehaviour::drop);
  EXPECT_EQ(actionAt("2001:db8:3:0:ffff:ffff:ffff:ffff"), HostBehaviour::drop);
  EXPECT_EQ(actionAt("2001:db8:255::1"), HostBehaviour::twice);  // listed outside
  EXPECT_EQ(actionAt("2001:db8:3:1::"), std::nullopt);
  EXPECT_EQ(actionAt("2001:db8:4::1"), std::nullopt);
  EXPECT_EQ(actionAt("2001:db8::2"), std::nullopt);
  EXPECT_EQ(actionAt("2001:db8:255::254"), std::nullopt);
  EXPECT_EQ(actionAt("::1"), std::nullopt);
}

}  // namespace
