// The echo request's bytes, the checksum, reply classification and the
// matching of datagrams to requests in flight.
#include "ping/icmp_packet.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "catalogue/failure_texts.hpp"
#include "fake_echo.hpp"
#include "ping/raw_echo_engine.hpp"

namespace {

using zelvor::ReplyKind;
using zelvor::test::FakeIcmpNetwork;
using zelvor::test::ipv4;
using Bytes = std::vector<std::uint8_t>;

TEST(InternetChecksum, MatchesTheRfc1071Example) {
  // RFC 1071's sum of 00 01 f2 03 f4 f5 f6 f7 is ddf2, so the checksum bytes
  // as sent are 22 0d; stored little-endian that is 0x0d22.
  const Bytes bytes = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(zelvor::internetChecksum(bytes), 0x0d22);
}

TEST(InternetChecksum, AddsAnOddByteAndFoldsEveryCarry) {
  EXPECT_EQ(zelvor::internetChecksum(Bytes{}), 0xFFFF);
  EXPECT_EQ(zelvor::internetChecksum(Bytes{0x01}), 0xFFFE);
  EXPECT_EQ(zelvor::internetChecksum(Bytes{0xFF, 0xFF, 0xFF, 0xFF}), 0x0000);
  EXPECT_EQ(zelvor::internetChecksum(Bytes{0xFF, 0xFF, 0x01, 0x00}), 0xFFFE);
}

TEST(IcmpWire, NamesTheTwoByteOrdersOfASixteenBitField) {
  Bytes bytes(8, 0);
  zelvor::icmp::writeBig16(bytes, zelvor::icmp::identifierAt, 0x1234);
  zelvor::icmp::writeLittle16(bytes, zelvor::icmp::sequenceAt, 0x1234);
  EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0, 0x12, 0x34, 0x34, 0x12}));
  EXPECT_EQ(zelvor::icmp::readBig16(bytes, 4), 0x1234);
  EXPECT_EQ(zelvor::icmp::readLittle16(bytes, 4), 0x3412);
  EXPECT_EQ(zelvor::icmp::readBig16(bytes, 6), 0x3412);
  EXPECT_EQ(zelvor::icmp::readLittle16(bytes, 6), 0x1234);
}

struct ChecksumCase {
  const char* name;
  Bytes message;  // a stale checksum in bytes 2 and 3
  Bytes expected;
};

void PrintTo(const ChecksumCase& c, std::ostream* out) { *out << c.name; }

class FillChecksum : public testing::TestWithParam<ChecksumCase> {};

TEST_P(FillChecksum, WritesTheChecksumAsSentWhateverWasThere) {
  Bytes message = GetParam().message;
  zelvor::icmp::fillChecksum(message);
  EXPECT_EQ(message, GetParam().expected);
  EXPECT_EQ(zelvor::internetChecksum(message), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FillChecksum,
    testing::Values(ChecksumCase{"NetworkOrderRequest",
                                 {0x08, 0x00, 0xAA, 0xBB, 0x12, 0x34, 0x00, 0x01},
                                 {0x08, 0x00, 0xE5, 0xCA, 0x12, 0x34, 0x00, 0x01}},
                    ChecksumCase{"OddLengthReply",
                                 {0x00, 0x00, 0xFF, 0xFF, 0xAB, 0xCD, 0x12, 0x34, 0x41},
                                 {0x00, 0x00, 0x00, 0xFE, 0xAB, 0xCD, 0x12, 0x34, 0x41}},
                    ChecksumCase{"HostUnreachable",
                                 {0x03, 0x01, 0x01, 0x02, 0, 0, 0, 0},
                                 {0x03, 0x01, 0xFC, 0xFE, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EchoRequest, IsByteForByteTheKnownMessage) {
  const zelvor::EchoRequest request = zelvor::buildEchoRequest(0x1234, 1, 5);
  Bytes expected = {0x08, 0x00, 0x5D, 0xF3, 0x34, 0x12, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00};
  for (int i = 0; i < 5; ++i) expected.insert(expected.end(), {0x01, 0x00, 0xDE, 0xFE});
  EXPECT_EQ(Bytes(request.begin(), request.end()), expected);
}

// The same message as ICMPv6: its type, and no checksum of ours.
TEST(EchoRequest, OverIpv6DiffersInTypeAndLeavesTheChecksumToTheKernel) {
  const zelvor::EchoRequest request =
      zelvor::buildEchoRequest(0x1234, 1, 5, zelvor::IcmpFamily::v6);
  Bytes expected = {0x80, 0x00, 0x00, 0x00, 0x34, 0x12, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00};
  for (int i = 0; i < 5; ++i) expected.insert(expected.end(), {0x01, 0x00, 0xDE, 0xFE});
  EXPECT_EQ(Bytes(request.begin(), request.end()), expected);
}

TEST(EchoRequest, ChecksumMakesTheMessageSumToZero) {
  const zelvor::EchoRequest request = zelvor::buildEchoRequest(0xBEEF, 65535, 0xFFFFFFFF);
  EXPECT_EQ(zelvor::internetChecksum(request), 0);
  EXPECT_EQ(request[6], 0xFF);
  EXPECT_EQ(request[7], 0xFF);
  EXPECT_EQ(request[31], 0xFE);
}

TEST(SequenceCounter, NeverGivesZeroAndWrapsToOne) {
  EXPECT_EQ(zelvor::detail::followingSequence(0), 1);
  EXPECT_EQ(zelvor::detail::followingSequence(1), 2);
  EXPECT_EQ(zelvor::detail::followingSequence(65534), 65535);
  EXPECT_EQ(zelvor::detail::followingSequence(65535), 1);
  const std::uint16_t first = zelvor::nextSequence();
  EXPECT_EQ(zelvor::nextSequence(), zelvor::detail::followingSequence(first));
}

// An ICMP message of `type` with `identifier` at bytes 4-5, padded to
// `size` bytes with the pattern of `sequence`.
Bytes icmp(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
           std::size_t size = 32) {
  const zelvor::EchoRequest request = zelvor::buildEchoRequest(identifier, sequence, 0);
  Bytes message(request.begin(), request.end());
  message.resize(size, 0);
  message[0] = type;
  return message;
}

struct ClassifyCase {
  const char* name;
  Bytes datagram;
  ReplyKind kind;
  std::uint16_t sequence;
};

void PrintTo(const ClassifyCase& c, std::ostream* out) { *out << c.name; }

class ClassifyReply : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyReply, GivesTheKindAndOnlyAnEchoReplysSequence) {
  const zelvor::ReplyClass reply = zelvor::classifyReply(GetParam().datagram, 0x1234);
  EXPECT_EQ(reply.kind, GetParam().kind);
  EXPECT_EQ(reply.sequence, GetParam().sequence);
}

const zelvor::HostAddress host = ipv4("198.18.1.1");

INSTANTIATE_TEST_SUITE_P(
    Datagrams, ClassifyReply,
    testing::Values(
        ClassifyCase{"OurReply", FakeIcmpNetwork::datagram(host, icmp(0, 0x1234, 77)),
                     ReplyKind::echoReply, 77},
        ClassifyCase{"OtherIdentifier", FakeIcmpNetwork::datagram(host, icmp(0, 0x4321, 77)),
                     ReplyKind::foreign, 0},
        ClassifyCase{"ShorterThan36", FakeIcmpNetwork::datagram(host, icmp(0, 0x1234, 77, 15)),
                     ReplyKind::foreign, 0},
        ClassifyCase{"ExactlyThe36Needed", FakeIcmpNetwork::datagram(host, icmp(0, 0x1234, 9, 16)),
                     ReplyKind::echoReply, 9},
        ClassifyCase{"IpOptionsMoveThePattern",
                     FakeIcmpNetwork::datagram(host, icmp(0, 0x1234, 77), 1), ReplyKind::foreign,
                     0},
        ClassifyCase{"Unreachable", FakeIcmpNetwork::datagram(host, icmp(3, 0, 0)),
                     ReplyKind::unreachable, 0},
        ClassifyCase{"TimeExceeded", FakeIcmpNetwork::datagram(host, icmp(11, 0, 0)),
                     ReplyKind::expired, 0},
        ClassifyCase{"OurOwnRequest", FakeIcmpNetwork::datagram(host, icmp(8, 0x1234, 77)),
                     ReplyKind::ownRequest, 0},
        ClassifyCase{"SomeoneElsesRequest", FakeIcmpNetwork::datagram(host, icmp(8, 0x9999, 77)),
                     ReplyKind::badHeader, 0},
        ClassifyCase{"OtherType", FakeIcmpNetwork::datagram(host, icmp(5, 0x1234, 77)),
                     ReplyKind::badHeader, 0},
        ClassifyCase{"HeaderPlusSevenBytes", FakeIcmpNetwork::datagram(host, icmp(0, 0x1234, 1, 7)),
                     ReplyKind::badHeader, 0},
        ClassifyCase{"HeaderLengthBeyondTheData", Bytes{0x4F, 0, 0, 0, 0, 0, 0, 0},
                     ReplyKind::badHeader, 0},
        ClassifyCase{"Empty", Bytes{}, ReplyKind::badHeader, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ICMPv6 messages come without the IPv6 header, so the pattern follows the
// send time at byte 12 whatever the addresses were.
class ClassifyIcmp6Reply : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyIcmp6Reply, GivesTheKindAndOnlyAnEchoReplysSequence) {
  const zelvor::ReplyClass reply = zelvor::classifyIcmp6Reply(GetParam().datagram, 0x1234);
  EXPECT_EQ(reply.kind, GetParam().kind);
  EXPECT_EQ(reply.sequence, GetParam().sequence);
}

// An ICMPv6 message of `type` and `code`, as icmp() makes it.
Bytes icmp6(std::uint8_t type, std::uint8_t code, std::uint16_t identifier, std::uint16_t sequence,
            std::size_t size = 32) {
  Bytes message = icmp(type, identifier, sequence, size);
  if (message.size() > 1) message[1] = code;
  return message;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ClassifyIcmp6Reply,
    testing::Values(
        ClassifyCase{"OurReply", icmp6(129, 0, 0x1234, 77), ReplyKind::echoReply, 77},
        ClassifyCase{
            "TheExactBytes",
            {0x81, 0x00, 0x12, 0x34, 0x34, 0x12, 0x09, 0x00, 0, 0, 0, 0, 0x09, 0x00, 0xDE, 0xFE},
            ReplyKind::echoReply,
            9},
        ClassifyCase{"PatternCutShort",
                     {0x81, 0x00, 0x12, 0x34, 0x34, 0x12, 0x09, 0x00, 0, 0, 0, 0, 0x09, 0x00, 0xDE},
                     ReplyKind::foreign,
                     0},
        ClassifyCase{"OtherIdentifier", icmp6(129, 0, 0x4321, 77), ReplyKind::foreign, 0},
        ClassifyCase{
            "OtherMark",
            {0x81, 0x00, 0x12, 0x34, 0x34, 0x12, 0x09, 0x00, 0, 0, 0, 0, 0x09, 0x00, 0xDE, 0xFF},
            ReplyKind::foreign,
            0},
        ClassifyCase{"NoRoute", icmp6(1, 0, 0, 0), ReplyKind::unreachable, 0},
        ClassifyCase{"AdministrativelyProhibited", icmp6(1, 1, 0, 0), ReplyKind::unreachable, 0},
        ClassifyCase{"AddressUnreachable", icmp6(1, 3, 0, 0), ReplyKind::unreachable, 0},
        ClassifyCase{"RejectRoute", icmp6(1, 6, 0, 0), ReplyKind::unreachable, 0},
        ClassifyCase{"HopLimitExceeded", icmp6(3, 0, 0, 0), ReplyKind::expired, 0},
        ClassifyCase{"OurOwnRequest", icmp6(128, 0, 0x1234, 77), ReplyKind::ownRequest, 0},
        ClassifyCase{"SomeoneElsesRequest", icmp6(128, 0, 0x9999, 77), ReplyKind::badHeader, 0},
        ClassifyCase{"PacketTooBig", icmp6(2, 0, 0x1234, 77), ReplyKind::badHeader, 0},
        ClassifyCase{"NeighbourSolicitation", icmp6(135, 0, 0, 0), ReplyKind::badHeader, 0},
        ClassifyCase{"Ipv4EchoReplyType", icmp6(0, 0, 0x1234, 77), ReplyKind::badHeader, 0},
        ClassifyCase{"Ipv4TimeExceededType", icmp6(11, 0, 0, 0), ReplyKind::badHeader, 0},
        ClassifyCase{"HeaderCutShort", icmp6(129, 0, 0x1234, 77, 7), ReplyKind::badHeader, 0},
        ClassifyCase{"Empty", Bytes{}, ReplyKind::badHeader, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyFailureText, NamesEachFailureKind) {
  EXPECT_EQ(zelvor::replyFailureText(ReplyKind::badHeader), zelvor::failure::badHeader);
  EXPECT_EQ(zelvor::replyFailureText(ReplyKind::unreachable), zelvor::failure::unreachable);
  EXPECT_EQ(zelvor::replyFailureText(ReplyKind::foreign), zelvor::failure::foreign);
  EXPECT_EQ(zelvor::replyFailureText(ReplyKind::expired), zelvor::failure::expired);
  EXPECT_EQ(zelvor::replyFailureText(ReplyKind::echoReply), nullptr);
}

TEST(MatchSlot, EchoRepliesMatchBySequenceOnly) {
  const zelvor::HostAddress a = ipv4("198.18.1.1"), b = ipv4("198.18.1.2");
  const std::vector<zelvor::SlotView> slots = {{true, 5, a}, {false, 6, b}, {true, 6, b}};
  using zelvor::ReplyClass;
  EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{ReplyKind::echoReply, 6}, a), 2u);
  EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{ReplyKind::echoReply, 5}, b), 0u);
  // A late reply whose request expired must not complete the next request
  // to the same server.
  EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{ReplyKind::echoReply, 4}, a), std::nullopt);
}

// An IPv6 source matches only an IPv6 slot, even one whose address starts
// with an IPv4 slot's four bytes.
TEST(MatchSlot, FailuresMatchTheLowestBusySlotOfTheirSource) {
  const zelvor::HostAddress a = ipv4("198.18.1.1"), b = ipv4("198.18.1.2");
  const zelvor::HostAddress a6{zelvor::IcmpFamily::v6, a.bytes};
  const std::vector<zelvor::SlotView> slots = {
      {false, 1, a}, {true, 2, b}, {true, 3, a}, {true, 4, a}, {true, 5, a6}};
  using zelvor::ReplyClass;
  for (const ReplyKind kind :
       {ReplyKind::unreachable, ReplyKind::foreign, ReplyKind::expired, ReplyKind::badHeader}) {
    EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{kind, 0}, a), 2u);
    EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{kind, 0}, b), 1u);
    EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{kind, 0}, a6), 4u);
    EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{kind, 0}, ipv4("198.18.9.9")), std::nullopt);
  }
  EXPECT_EQ(zelvor::matchSlot(slots, ReplyClass{ReplyKind::ownRequest, 0}, a), std::nullopt);
}

}  // namespace
