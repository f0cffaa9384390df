// The ICMP test peer's pure parts: addresses, the checksum, reading requests,
// the exact bytes of every answer it sends, and the plan it reads. The
// expected packets were worked out independently of this code, by hand from
// the header layouts, so a wrong field or checksum shows as a wrong byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "peer_packet.hpp"
#include "peer_plan.hpp"

namespace {

using zelvor::test::answerRequest;
using zelvor::test::Behaviour;
using zelvor::test::behaviourFor;
using zelvor::test::buildEchoReply;
using zelvor::test::buildIpPacket;
using zelvor::test::Bytes;
using zelvor::test::drawBehaviour;
using zelvor::test::EchoRequest;
using zelvor::test::formatIpv4;
using zelvor::test::HostBehaviour;
using zelvor::test::HostRule;
using zelvor::test::internetChecksum;
using zelvor::test::IpHeaderFields;
using zelvor::test::OutgoingPacket;
using zelvor::test::parseBehaviour;
using zelvor::test::parseEchoRequest;
using zelvor::test::parseHostRule;
using zelvor::test::parseIpv4;
using zelvor::test::parsePeerArguments;
using zelvor::test::PeerPlan;
using zelvor::test::PeerRandom;
using zelvor::test::PlanError;

constexpr std::uint32_t client = 0xC6120001;  // 198.18.0.1
constexpr std::uint32_t host = 0xC6120101;    // 198.18.1.1
constexpr std::uint32_t router = 0xC612FFFE;  // 198.18.255.254

// 198.18.0.1 -> 198.18.1.1, IP id 0x1234, TTL 64; echo request identifier
// 0xbeef, sequence 1, payload "zelvor!!".
const Bytes request = {0x45, 0x00, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00, 0x40, 0x01, 0xdb, 0x7e,
                       0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01, 0x08, 0x00, 0xc1, 0x9f,
                       0xbe, 0xef, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

// The same request with four option bytes (three no-ops and an end), IHL 6.
const Bytes requestWithOptions = {0x46, 0x00, 0x00, 0x28, 0x12, 0x34, 0x00, 0x00, 0x40, 0x01,
                                  0xd8, 0x79, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01,
                                  0x01, 0x01, 0x01, 0x00, 0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef,
                                  0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

// The same request with type of service 0x10.
const Bytes requestWithTos = {0x45, 0x10, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00, 0x40,
                              0x01, 0xdb, 0x6e, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12,
                              0x01, 0x01, 0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef, 0x00,
                              0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

// The echo reply to `request` with IP id 7.
const Bytes reply = {0x45, 0x00, 0x00, 0x24, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0xab,
                     0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x00, 0x00, 0xc9, 0x9f,
                     0xbe, 0xef, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};

EchoRequest parsed(const Bytes& packet) {
  const std::optional<EchoRequest> result = parseEchoRequest(packet);
  if (!result) throw std::runtime_error("the test request did not parse");
  return *result;
}

Bytes withByte(Bytes packet, std::size_t at, std::uint8_t value) {
  packet[at] = value;
  return packet;
}

PeerPlan planOf(std::vector<std::string_view> arguments) { return parsePeerArguments(arguments); }

// --- addresses ---------------------------------------------------------------

TEST(Ipv4Text, ReadsDottedQuadsOnly) {
  EXPECT_EQ(parseIpv4("198.18.1.2"), 0xC6120102u);
  EXPECT_EQ(parseIpv4("0.0.0.0"), 0u);
  EXPECT_EQ(parseIpv4("255.255.255.255"), 0xFFFFFFFFu);
  for (const char* bad : {"", "198.18.1", "198.18.1.2.3", "198.18.1.256", "198.18.01.2",
                          "198.18.1.2 ", "198.18..2", "0x1.2.3.4", "1.2.3.-4", "1234.1.1.1"}) {
    EXPECT_EQ(parseIpv4(bad), std::nullopt) << bad;
  }
}

TEST(Ipv4Text, FormatsEveryOctetInOrder) {
  EXPECT_EQ(formatIpv4(0xC612FFFE), "198.18.255.254");
  EXPECT_EQ(formatIpv4(0x01000203), "1.0.2.3");
}

// --- checksum -----------------------------------------------------------------

TEST(InternetChecksum, GivesTheComplementOfTheRfc1071ExampleSum) {
  // RFC 1071 sums 00 01 f2 03 f4 f5 f6 f7 to ddf2.
  EXPECT_EQ(internetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
}

TEST(InternetChecksum, PadsAnOddByteAndFoldsCarries) {
  EXPECT_EQ(internetChecksum(Bytes{}), 0xFFFF);
  EXPECT_EQ(internetChecksum(Bytes{0x12}), 0xEDFF);
  EXPECT_EQ(internetChecksum(Bytes{0xFF, 0xFF, 0x00, 0x02}), 0xFFFD);
  // Header and message each sum to ffff, so the whole packet checks out too.
  EXPECT_EQ(internetChecksum(request), 0);
}

// --- reading requests ---------------------------------------------------------

TEST(ParseEchoRequest, ReadsAddressesIdentifiersPayloadAndQuote) {
  const EchoRequest got = parsed(request);
  EXPECT_EQ(got.source, client);
  EXPECT_EQ(got.destination, host);
  EXPECT_EQ(got.tos, 0);
  EXPECT_EQ(got.identifier, 0xBEEF);
  EXPECT_EQ(got.sequence, 1);
  EXPECT_EQ(Bytes(got.payload.begin(), got.payload.end()),
            Bytes(request.begin() + 28, request.end()));
  EXPECT_EQ(Bytes(got.quote.begin(), got.quote.end()),
            Bytes(request.begin(), request.begin() + 28));
}

TEST(ParseEchoRequest, FindsTheMessageAfterIpOptionsAndQuotesThem) {
  const EchoRequest got = parsed(requestWithOptions);
  EXPECT_EQ(got.identifier, 0xBEEF);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(got.payload.data()), got.payload.size()),
            "zelvor!!");
  EXPECT_EQ(got.quote.size(), 32u);
}

TEST(ParseEchoRequest, IgnoresTrailingBytesBeyondTheTotalLength) {
  Bytes padded = request;
  padded.insert(padded.end(), {0xAA, 0xBB});
  EXPECT_EQ(parsed(padded).payload.size(), 8u);
}

TEST(ParseEchoRequest, RejectsWhatAKernelWouldNotAnswer) {
  EXPECT_FALSE(parseEchoRequest(withByte(request, 20, 0)));     // an echo reply
  EXPECT_FALSE(parseEchoRequest(withByte(request, 21, 1)));     // code 1
  EXPECT_FALSE(parseEchoRequest(withByte(request, 23, 0xA0)));  // ICMP checksum broken
  EXPECT_FALSE(parseEchoRequest(withByte(request, 35, 0x22)));  // payload changed
  EXPECT_FALSE(parseEchoRequest(withByte(request, 9, 17)));     // UDP
  EXPECT_FALSE(parseEchoRequest(withByte(request, 0, 0x65)));   // IPv6 version
  EXPECT_FALSE(parseEchoRequest(withByte(request, 0, 0x44)));   // IHL below 5
  EXPECT_FALSE(parseEchoRequest(withByte(request, 6, 0x20)));   // more fragments
  EXPECT_FALSE(parseEchoRequest(withByte(request, 7, 0x01)));   // a fragment offset
  EXPECT_FALSE(parseEchoRequest(withByte(request, 3, 0x25)));   // longer than received
  EXPECT_FALSE(parseEchoRequest(withByte(request, 3, 0x1B)));   // no room for the echo header
  EXPECT_FALSE(parseEchoRequest(Bytes(request.begin(), request.begin() + 19)));
  EXPECT_TRUE(parseEchoRequest(withByte(request, 6, 0x40)));  // don't-fragment is fine
}

// --- building packets -------------------------------------------------------------

TEST(BuildEchoReply, CopiesIdentifiersAndAnOddLengthPayload) {
  const Bytes payload = {'a', 'b', 'c'};
  EXPECT_EQ(buildEchoReply(1, 2, payload),
            (Bytes{0x00, 0x00, 0x3b, 0x9a, 0x00, 0x01, 0x00, 0x02, 0x61, 0x62, 0x63}));
}

TEST(BuildIpPacket, RefusesOptionsOfABadLengthAndOversizedPackets) {
  const Bytes three(3, 1);
  const Bytes fortyFour(44, 1);
  IpHeaderFields header;
  header.options = three;
  EXPECT_THROW(buildIpPacket(header, Bytes{}), std::invalid_argument);
  header.options = fortyFour;
  EXPECT_THROW(buildIpPacket(header, Bytes{}), std::invalid_argument);
  header.options = {};
  EXPECT_THROW(buildIpPacket(header, Bytes(65536 - 20, 0)), std::invalid_argument);
  EXPECT_EQ(buildIpPacket(header, Bytes(65535 - 20, 0)).size(), 65535u);
}

// --- answers ---------------------------------------------------------------------

OutgoingPacket onlyPacket(const std::vector<OutgoingPacket>& packets) {
  if (packets.size() != 1) throw std::runtime_error("expected exactly one packet");
  return packets.front();
}

TEST(AnswerRequest, ReplyCopiesTheRequestAfterTheDelay) {
  const OutgoingPacket got =
      onlyPacket(answerRequest({HostBehaviour::reply, 20, 0}, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 20u);
  EXPECT_EQ(got.destination, client);
  EXPECT_EQ(got.bytes, reply);
}

TEST(AnswerRequest, ReplyKeepsTheTypeOfService) {
  const Bytes expected = {0x45, 0x10, 0x00, 0x24, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0x9b,
                          0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x00, 0x00, 0xc9, 0x9f,
                          0xbe, 0xef, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};
  EXPECT_EQ(
      onlyPacket(answerRequest({HostBehaviour::reply, 0, 0}, parsed(requestWithTos), 7)).bytes,
      expected);
}

TEST(AnswerRequest, ErrorsLeaveTheTypeOfServiceOutsideTheQuote) {
  const Bytes expected = {0x45, 0x00, 0x00, 0x38, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0x97,
                          0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x03, 0x01, 0x74, 0x6e,
                          0x00, 0x00, 0x00, 0x00, 0x45, 0x10, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00,
                          0x40, 0x01, 0xdb, 0x6e, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01,
                          0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef, 0x00, 0x01};
  EXPECT_EQ(onlyPacket(answerRequest({HostBehaviour::unreachable, 0, 0}, parsed(requestWithTos), 7))
                .bytes,
            expected);
}

TEST(AnswerRequest, DropSendsNothing) {
  EXPECT_TRUE(answerRequest({HostBehaviour::drop, 0, 0}, parsed(request), 7).empty());
}

TEST(AnswerRequest, ForeignFlipsEveryBitOfTheIdentifierOnly) {
  const Bytes expected = {0x45, 0x00, 0x00, 0x24, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0xab,
                          0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x00, 0x00, 0x47, 0x7f,
                          0x41, 0x10, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};
  const OutgoingPacket got =
      onlyPacket(answerRequest({HostBehaviour::foreign, 5, 0}, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 5u);
  EXPECT_EQ(got.bytes, expected);
}

TEST(AnswerRequest, TwiceSendsTwoIdenticalRepliesOneDelayApart) {
  const std::vector<OutgoingPacket> got =
      answerRequest({HostBehaviour::twice, 30, 0}, parsed(request), 7);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].delayMs, 30u);
  EXPECT_EQ(got[1].delayMs, 60u);
  EXPECT_EQ(got[0].bytes, reply);
  EXPECT_EQ(got[1].bytes, reply);
}

TEST(AnswerRequest, UnreachableComesAtOnceFromTheTargetQuotingTheRequest) {
  const Bytes expected = {0x45, 0x00, 0x00, 0x38, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0x97,
                          0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x03, 0x01, 0x74, 0x6e,
                          0x00, 0x00, 0x00, 0x00, 0x45, 0x00, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00,
                          0x40, 0x01, 0xdb, 0x7e, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01,
                          0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef, 0x00, 0x01};
  const OutgoingPacket got =
      onlyPacket(answerRequest({HostBehaviour::unreachable, 0, 0}, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 0u);
  EXPECT_EQ(got.destination, client);
  EXPECT_EQ(got.bytes, expected);
}

TEST(AnswerRequest, UnreachableQuotesTheRequestsIpOptions) {
  const Bytes expected = {0x45, 0x00, 0x00, 0x3c, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xed, 0x93,
                          0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x03, 0x01, 0x74, 0x6e,
                          0x00, 0x00, 0x00, 0x00, 0x46, 0x00, 0x00, 0x28, 0x12, 0x34, 0x00, 0x00,
                          0x40, 0x01, 0xd8, 0x79, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01,
                          0x01, 0x01, 0x01, 0x00, 0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef, 0x00, 0x01};
  EXPECT_EQ(
      onlyPacket(answerRequest({HostBehaviour::unreachable, 0, 0}, parsed(requestWithOptions), 7))
          .bytes,
      expected);
}

TEST(AnswerRequest, ExpiredComesFromTheRouterQuotingTheRequest) {
  const Bytes expected = {0x45, 0x00, 0x00, 0x38, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xee, 0x99,
                          0xc6, 0x12, 0xff, 0xfe, 0xc6, 0x12, 0x00, 0x01, 0x0b, 0x00, 0x6c, 0x6f,
                          0x00, 0x00, 0x00, 0x00, 0x45, 0x00, 0x00, 0x24, 0x12, 0x34, 0x00, 0x00,
                          0x40, 0x01, 0xdb, 0x7e, 0xc6, 0x12, 0x00, 0x01, 0xc6, 0x12, 0x01, 0x01,
                          0x08, 0x00, 0xc1, 0x9f, 0xbe, 0xef, 0x00, 0x01};
  const OutgoingPacket got =
      onlyPacket(answerRequest({HostBehaviour::expired, 0, router}, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 0u);
  EXPECT_EQ(got.destination, client);
  EXPECT_EQ(got.bytes, expected);
}

TEST(AnswerRequest, OptionsPutsAFullRecordRouteIntoALongerHeader) {
  // IHL 7: record route (07 07 08, the target's address) and an end byte.
  const Bytes expected = {0x47, 0x00, 0x00, 0x2c, 0x00, 0x07, 0x00, 0x00, 0x40, 0x01, 0xc8,
                          0xd5, 0xc6, 0x12, 0x01, 0x01, 0xc6, 0x12, 0x00, 0x01, 0x07, 0x07,
                          0x08, 0xc6, 0x12, 0x01, 0x01, 0x00, 0x00, 0x00, 0xc9, 0x9f, 0xbe,
                          0xef, 0x00, 0x01, 0x7a, 0x65, 0x6c, 0x76, 0x6f, 0x72, 0x21, 0x21};
  const OutgoingPacket got =
      onlyPacket(answerRequest({HostBehaviour::options, 12, 0}, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 12u);
  EXPECT_EQ(got.bytes, expected);
}

// --- the plan --------------------------------------------------------------------

TEST(ParseBehaviour, ReadsEveryBehaviour) {
  EXPECT_EQ(parseBehaviour("reply:0"), (Behaviour{HostBehaviour::reply, 0, 0}));
  EXPECT_EQ(parseBehaviour("reply:20"), (Behaviour{HostBehaviour::reply, 20, 0}));
  EXPECT_EQ(parseBehaviour("late:1500"), (Behaviour{HostBehaviour::reply, 1500, 0}));
  EXPECT_EQ(parseBehaviour("drop"), (Behaviour{HostBehaviour::drop, 0, 0}));
  EXPECT_EQ(parseBehaviour("foreign:3"), (Behaviour{HostBehaviour::foreign, 3, 0}));
  EXPECT_EQ(parseBehaviour("twice:40"), (Behaviour{HostBehaviour::twice, 40, 0}));
  EXPECT_EQ(parseBehaviour("unreachable"), (Behaviour{HostBehaviour::unreachable, 0, 0}));
  EXPECT_EQ(parseBehaviour("expired:198.18.255.254"),
            (Behaviour{HostBehaviour::expired, 0, router}));
  EXPECT_EQ(parseBehaviour("options:600000"), (Behaviour{HostBehaviour::options, 600000, 0}));
  EXPECT_EQ(parseBehaviour("far:250:40:3"), (Behaviour{HostBehaviour::far, 250, 0, 40, 3}));
  EXPECT_EQ(parseBehaviour("far:0:0:0"), (Behaviour{HostBehaviour::far, 0, 0, 0, 0}));
  EXPECT_EQ(parseBehaviour("far:599000:1000:100"),
            (Behaviour{HostBehaviour::far, 599000, 0, 1000, 100}));
}

TEST(ParseBehaviour, RefusesWhatItCannotFollow) {
  for (const char* bad :
       {"", "reply", "reply:", "reply:-1", "reply:1.5", "reply:20ms", "reply:600001",
        "reply:99999999999", "Reply:5", "drop:5", "unreachable:1", "expired",
        "expired:", "expired:10.0.0.1", "expired:198.20.0.1", "twice", "pong:5"}) {
    EXPECT_THROW(parseBehaviour(bad), PlanError) << bad;
  }
  // far: three numbers, delay and spread within the ceiling together, loss a percentage.
  for (const char* bad : {"far", "far:20", "far:20:5", "far:20:5:", "far::5:3", "far:20::3",
                          "far:20:5:101", "far:20:5:-1", "far:20:5:3:1", "far:20:5:3%",
                          "far:600000:1:0", "far:599000:1001:0", "far:600001:0:0", "Far:20:5:3"}) {
    EXPECT_THROW(parseBehaviour(bad), PlanError) << bad;
  }
}

TEST(ParseHostRule, ReadsOneAddressOrALastOctetRange) {
  EXPECT_EQ(parseHostRule("198.18.1.1=reply:20"),
            (HostRule{host, host, Behaviour{HostBehaviour::reply, 20, 0}}));
  EXPECT_EQ(parseHostRule("198.18.2.1-200=drop"),
            (HostRule{0xC6120201, 0xC61202C8, Behaviour{HostBehaviour::drop, 0, 0}}));
  EXPECT_EQ(parseHostRule("198.19.0.7-7=unreachable"),
            (HostRule{0xC6130007, 0xC6130007, Behaviour{HostBehaviour::unreachable, 0, 0}}));
}

TEST(ParseHostRule, RefusesBadAddressesRangesAndAddressesOutsideTheTestNetwork) {
  for (const char* bad :
       {"198.18.1.1", "198.18.1.1=", "=reply:1", "198.18.1=reply:1", "198.18.2.200-1=drop",
        "198.18.2.1-256=drop", "198.18.2.1-=drop", "198.18.2.1-2-3=drop", "127.0.0.1=reply:0",
        "192.168.1.1=reply:0", "198.17.255.255=reply:0", "198.20.0.0=reply:0"}) {
    EXPECT_THROW(parseHostRule(bad), PlanError) << bad;
  }
}

TEST(ParsePeerArguments, DefaultsToKernelLikeRepliesForSixtySeconds) {
  const PeerPlan plan = planOf({});
  EXPECT_TRUE(plan.hosts.empty());
  EXPECT_EQ(plan.fallback, (Behaviour{HostBehaviour::reply, 0, 0}));
  EXPECT_EQ(plan.lifetimeSeconds, 60u);
  EXPECT_EQ(plan.seed, 1u);
}

TEST(ParsePeerArguments, TakesValuesAfterASpaceOrAnEqualsSign) {
  const PeerPlan plan = planOf({"--host", "198.18.1.1=reply:20", "--host=198.18.1.2=drop",
                                "--default=unreachable", "--lifetime", "5", "--seed=4294967295"});
  ASSERT_EQ(plan.hosts.size(), 2u);
  EXPECT_EQ(plan.hosts[0], (HostRule{host, host, Behaviour{HostBehaviour::reply, 20, 0}}));
  EXPECT_EQ(plan.hosts[1], (HostRule{host + 1, host + 1, Behaviour{HostBehaviour::drop, 0, 0}}));
  EXPECT_EQ(plan.fallback, (Behaviour{HostBehaviour::unreachable, 0, 0}));
  EXPECT_EQ(plan.lifetimeSeconds, 5u);
  EXPECT_EQ(plan.seed, 4294967295u);
  EXPECT_EQ(planOf({"--seed", "0"}).seed, 0u);
}

TEST(ParsePeerArguments, RefusesUnknownOptionsMissingValuesAndUnboundedLifetimes) {
  const std::vector<std::vector<std::string_view>> bad = {{"--host"},
                                                          {"--default"},
                                                          {"--lifetime"},
                                                          {"--lifetime", "0"},
                                                          {"--lifetime", "3601"},
                                                          {"--lifetime=-1"},
                                                          {"--lifetime", "1m"},
                                                          {"--seed"},
                                                          {"--seed", "-1"},
                                                          {"--seed", "4294967296"},
                                                          {"--seed=x"},
                                                          {"--verbose"},
                                                          {"198.18.1.1=reply:0"},
                                                          {"--host", "198.18.1.1=nope"}};
  for (const auto& arguments : bad) {
    EXPECT_THROW(parsePeerArguments(arguments), PlanError) << arguments.front();
  }
  EXPECT_EQ(planOf({"--lifetime", "3600"}).lifetimeSeconds, 3600u);
}

TEST(BehaviourFor, LaterRulesWinAndTheFallbackCoversOnlyTheTestHostRanges) {
  const PeerPlan plan = planOf({"--default", "drop", "--host", "198.18.2.1-200=reply:5", "--host",
                                "198.18.2.7=unreachable", "--host", "198.18.255.1=twice:1"});
  const auto actionAt = [&](const char* address) -> std::optional<HostBehaviour> {
    const Behaviour* behaviour = behaviourFor(plan, *parseIpv4(address));
    return behaviour ? std::optional(behaviour->action) : std::nullopt;
  };
  EXPECT_EQ(actionAt("198.18.2.1"), HostBehaviour::reply);
  EXPECT_EQ(actionAt("198.18.2.200"), HostBehaviour::reply);
  EXPECT_EQ(actionAt("198.18.2.7"), HostBehaviour::unreachable);
  EXPECT_EQ(actionAt("198.18.2.201"), HostBehaviour::drop);  // fallback
  EXPECT_EQ(actionAt("198.18.1.0"), HostBehaviour::drop);
  EXPECT_EQ(actionAt("198.18.3.255"), HostBehaviour::drop);
  EXPECT_EQ(actionAt("198.18.255.1"), HostBehaviour::twice);  // listed outside the ranges
  EXPECT_EQ(actionAt("198.18.4.0"), std::nullopt);
  EXPECT_EQ(actionAt("198.18.0.255"), std::nullopt);
  EXPECT_EQ(actionAt("198.18.255.254"), std::nullopt);
  EXPECT_EQ(actionAt("10.0.0.1"), std::nullopt);
}

TEST(BehaviourFor, AnEarlierRuleStillAppliesWhereNoLaterOneReaches) {
  const PeerPlan plan =
      planOf({"--host", "198.18.3.1-9=foreign:2", "--host", "198.18.3.5-6=options:1"});
  EXPECT_EQ(behaviourFor(plan, 0xC6120304)->action, HostBehaviour::foreign);
  EXPECT_EQ(behaviourFor(plan, 0xC6120305)->action, HostBehaviour::options);
  EXPECT_EQ(behaviourFor(plan, 0xC6120307)->action, HostBehaviour::foreign);
}

// --- drawing "far" ---------------------------------------------------------------

constexpr int draws = 20000;

// What `draws` requests met under `behaviour`, with the generator seeded 1.
struct Drawn {
  int drops = 0;
  std::vector<std::uint32_t> delays;  // of the replies, sorted
};

Drawn drawMany(const Behaviour& behaviour) {
  PeerRandom random(1);
  Drawn drawn;
  for (int i = 0; i < draws; ++i) {
    const Behaviour met = drawBehaviour(behaviour, random);
    if (met.action == HostBehaviour::drop) {
      EXPECT_EQ(met, (Behaviour{HostBehaviour::drop, 0, 0}));
      ++drawn.drops;
    } else {
      EXPECT_EQ(met.action, HostBehaviour::reply);
      EXPECT_EQ(met.spreadMs + met.lossPercent + met.router, 0u);
      drawn.delays.push_back(met.delayMs);
    }
  }
  std::sort(drawn.delays.begin(), drawn.delays.end());
  return drawn;
}

TEST(DrawBehaviour, FarStaysInsideItsSpreadAndLosesItsShare) {
  struct Case {
    const char* far;
    int fewestDrops, mostDrops;  // of `draws`
    std::uint32_t medianLow, medianHigh;
  };
  // The median of the replies lies a quarter into the spread; the bounds
  // leave about four standard deviations either side for both figures.
  const Case cases[] = {
      {"far:20:0:0", 0, 0, 20, 20},           {"far:250:40:3", 500, 700, 258, 262},
      {"far:0:1000:0", 0, 0, 235, 265},       {"far:80:12:50", 9700, 10300, 82, 84},
      {"far:100:10:100", draws, draws, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.far);
    const Behaviour far = parseBehaviour(c.far);
    const Drawn drawn = drawMany(far);
    EXPECT_GE(drawn.drops, c.fewestDrops);
    EXPECT_LE(drawn.drops, c.mostDrops);
    if (drawn.delays.empty()) continue;
    // Both ends of the spread are met, and nothing beyond them.
    EXPECT_EQ(drawn.delays.front(), far.delayMs);
    EXPECT_EQ(drawn.delays.back(), far.delayMs + far.spreadMs);
    const std::uint32_t median = drawn.delays[drawn.delays.size() / 2];
    EXPECT_GE(median, c.medianLow);
    EXPECT_LE(median, c.medianHigh);
  }
}

TEST(DrawBehaviour, EveryOtherBehaviourPassesThroughWithoutADraw) {
  const Behaviour fixed[] = {
      {HostBehaviour::reply, 20, 0},      {HostBehaviour::drop, 0, 0},
      {HostBehaviour::foreign, 5, 0},     {HostBehaviour::twice, 30, 0},
      {HostBehaviour::unreachable, 0, 0}, {HostBehaviour::expired, 0, router},
      {HostBehaviour::options, 12, 0}};
  PeerRandom random(1);
  const PeerRandom untouched = random;
  for (const Behaviour& behaviour : fixed) {
    EXPECT_EQ(drawBehaviour(behaviour, random), behaviour);
  }
  EXPECT_EQ(random, untouched);
}

TEST(DrawBehaviour, TheSameSeedDrawsTheSameRun) {
  const Behaviour far = parseBehaviour("far:120:30:10");
  const auto run = [&](std::uint32_t seed) {
    PeerRandom random(seed);
    std::vector<Behaviour> met;
    for (int i = 0; i < 200; ++i) met.push_back(drawBehaviour(far, random));
    return met;
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
}

TEST(AnswerRequest, ADrawnFarReplyIsAPlainReplyAfterTheDrawnDelay) {
  PeerRandom random(1);
  const Behaviour met = drawBehaviour(parseBehaviour("far:20:0:0"), random);
  const OutgoingPacket got = onlyPacket(answerRequest(met, parsed(request), 7));
  EXPECT_EQ(got.delayMs, 20u);
  EXPECT_EQ(got.destination, client);
  EXPECT_EQ(got.bytes, reply);
}

}  // namespace
