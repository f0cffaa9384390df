// httpGet and httpPost on the wire: the exact request bytes, the replies a
// real server can send, and no descriptor left behind after hundreds of
// exchanges.
#include "net/http_client.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "scripted_peer.hpp"
#include "support/failure.hpp"

namespace {

using namespace std::string_literals;
using zelvor::test::ScriptedPeer;

constexpr std::uint32_t shortTimeoutMs = 150;
constexpr std::uint32_t generousTimeoutMs = 10000;
constexpr std::size_t unbounded = std::numeric_limits<std::size_t>::max();

// The body httpGet returns, or the text it throws.
std::string getOutcome(std::uint16_t port, std::uint32_t timeoutMs = generousTimeoutMs) {
  try {
    return "body:" + zelvor::httpGet("127.0.0.1", "/zv_fetch", port, unbounded, timeoutMs);
  } catch (const kelvo::Failure& failure) {
    return "failure:" + failure;
  }
}

TEST(HttpGet, SendsExactlyTheRequestAndReturnsTheBody) {
  ScriptedPeer peer;
  peer.readRequest().send("HTTP/1.0 200 OK\r\n\r\nA:h1:80\n").close();
  peer.start();
  EXPECT_EQ(zelvor::httpGet("127.0.0.1", "/x", peer.port(), unbounded, generousTimeoutMs),
            "A:h1:80\n");
  EXPECT_EQ(peer.received(0), "GET /x HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(peer.record(0).outcome, "completed");
}

TEST(HttpPost, SendsTheHeadThenExactlyTheBody) {
  for (const std::string& body : {""s, "12345"s, "A\nh\0:1:\nEND\n"s}) {
    ScriptedPeer peer;
    peer.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nhandle").close();
    peer.start();
    EXPECT_EQ(
        zelvor::httpPost("127.0.0.1", "/zelvor", body, peer.port(), unbounded, generousTimeoutMs),
        "handle");
    EXPECT_EQ(peer.received(0),
              "POST /zelvor HTTP/1.0\r\nContent-length: " + std::to_string(body.size()) +
                  "\r\nHost: 127.0.0.1\r\n\r\n" + body);
  }
}

struct WireCase {
  const char* name;
  std::vector<std::string> sends;  // each its own send, after the request was read
  std::string outcome;
};

void PrintTo(const WireCase& wireCase, std::ostream* out) { *out << wireCase.name; }

class HttpReply : public testing::TestWithParam<WireCase> {};

TEST_P(HttpReply, EndsAsTheHeaderSays) {
  ScriptedPeer peer;
  peer.readRequest();
  for (const std::string& bytes : GetParam().sends) peer.send(bytes).pause(5);
  peer.close();
  peer.start();
  EXPECT_EQ(getOutcome(peer.port()), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpReply,
    testing::Values(
        WireCase{"Http11", {"HTTP/1.1 200 OK\r\n\r\nabc"}, "body:abc"},
        WireCase{"NotFound", {"HTTP/1.0 404 Not Found\r\n\r\n"}, "failure:HTTP Failure: 404"},
        WireCase{"LengthShorterThanData",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", "abcdef"},
                 "body:abc"},
        WireCase{"LengthLongerThanData",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nab", "cd"},
                 "failure:Bad HTTP Response: body of 4 bytes, 10 announced"},
        WireCase{"TwoLengths",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nxyz"},
                 "body:xy"},
        WireCase{"KeepAliveWithoutLength",
                 {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\n\r\nabc"},
                 "failure:Unable to determine end of http-document"},
        WireCase{"KeepAliveWithZeroLength",
                 {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n"},
                 "body:"},
        WireCase{"NoHeaders", {"HTTP/1.0 200 OK\r\n\r\n", "one ", "two"}, "body:one two"},
        WireCase{"LongHeaderLine",
                 {"HTTP/1.0 200 OK\r\nX-Long: " + std::string(290, 'q') +
                  "\r\nContent-Length: 1\r\n\r\nxy"},
                 "body:x"},
        WireCase{"ClosesAtOnce", {}, "failure:Bad HTTP Response: "}),
    [](const auto& info) { return std::string(info.param.name); });

// The handle's exchange under a bound of 4096 bytes: a body that fills it is
// taken, one byte more is refused, announced or not.
class HttpPostBound : public testing::TestWithParam<WireCase> {};

TEST_P(HttpPostBound, TakesTheBodyUpToTheBound) {
  constexpr std::size_t bound = 4096;
  ScriptedPeer peer;
  peer.readRequest();
  for (const std::string& bytes : GetParam().sends) peer.send(bytes).pause(5);
  peer.close();
  peer.start();
  std::string outcome;
  try {
    outcome = "body:" + zelvor::httpPost("127.0.0.1", "/zelvor", "report", peer.port(), bound,
                                         generousTimeoutMs);
  } catch (const kelvo::Failure& failure) {
    outcome = "failure:" + failure;
  }
  EXPECT_EQ(outcome, GetParam().outcome);
}

const std::string handleOf4096(4096, 'h');
const std::string tooLongFor4096 = "failure:Bad HTTP Response: body over 4096 bytes";

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpPostBound,
    testing::Values(
        WireCase{"Unannounced", {"HTTP/1.0 200 OK\r\n\r\n", handleOf4096}, "body:" + handleOf4096},
        WireCase{
            "UnannouncedOneMore", {"HTTP/1.0 200 OK\r\n\r\n", handleOf4096, "h"}, tooLongFor4096},
        WireCase{"Announced",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 4096\r\n\r\n", handleOf4096},
                 "body:" + handleOf4096},
        WireCase{"AnnouncedOneMore",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 4097\r\n\r\n", handleOf4096 + "h"},
                 tooLongFor4096},
        WireCase{"AnnouncedOneMoreWithNoBody",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 4097\r\n\r\n"},
                 tooLongFor4096},
        WireCase{"CutShort",
                 {"HTTP/1.0 200 OK\r\nContent-Length: 22\r\n\r\n", "half-a-handle"},
                 "failure:Bad HTTP Response: body of 13 bytes, 22 announced"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpReply, StallLongerThanTheTimeOutEndsTheBodySilently) {
  ScriptedPeer peer;
  peer.readRequest().send("HTTP/1.0 200 OK\r\n\r\nbefore").pause(6 * shortTimeoutMs).send("after");
  peer.start();
  EXPECT_EQ(getOutcome(peer.port(), shortTimeoutMs), "body:before");
}

// A stall past the time-out ends the body as a close would: short of an
// announced length, the reply is refused.
TEST(HttpReply, StallInsideAnAnnouncedBodyIsACutShortBody) {
  ScriptedPeer peer;
  peer.readRequest()
      .send("HTTP/1.0 200 OK\r\nContent-Length: 22\r\n\r\nhalf-a-ha")
      .pause(6 * shortTimeoutMs)
      .send("ndle-of-22b");
  peer.start();
  EXPECT_EQ(getOutcome(peer.port(), shortTimeoutMs),
            "failure:Bad HTTP Response: body of 9 bytes, 22 announced");
}

TEST(HttpReply, StallBeforeTheStatusLineIsABadResponse) {
  ScriptedPeer peer;
  peer.readRequest().pause(6 * shortTimeoutMs).send("HTTP/1.0 200 OK\r\n\r\nlate");
  peer.start();
  EXPECT_EQ(getOutcome(peer.port(), shortTimeoutMs), "failure:Bad HTTP Response: ");
}

TEST(HttpGet, UnresolvableHostIsAnInvalidAddress) {
  try {
    zelvor::httpGet("nothing.invalid", "/zv_fetch", 80, unbounded, shortTimeoutMs);
    FAIL() << "no failure";
  } catch (const kelvo::Failure& failure) {
    EXPECT_EQ(failure, "Invalid address: nothing.invalid");
  }
}

TEST(HttpExchanges, LeaveNoDescriptorBehind) {
  constexpr int rounds = 75;
  const std::size_t before = zelvor::test::openDescriptorCount();
  {
    ScriptedPeer good;
    good.readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok").close();
    good.start(rounds);
    ScriptedPeer bad;
    bad.readRequest().send("HTTP/1.0 500 Oops\r\n\r\n").close();
    bad.start(rounds);
    std::uint16_t refusedPort = 0;
    {
      ScriptedPeer gone;
      refusedPort = gone.port();
    }
    int bodies = 0, failures = 0;
    for (int i = 0; i < rounds; ++i) {
      bodies += getOutcome(good.port()) == "body:ok";
      failures += getOutcome(bad.port()) == "failure:HTTP Failure: 500";
      failures += getOutcome(refusedPort).rfind("failure:Socket error ", 0) == 0;
      try {
        zelvor::httpPost("nothing.invalid", "/zelvor", "x", 80, unbounded, shortTimeoutMs);
      } catch (const kelvo::Failure&) {
        ++failures;
      }
    }
    EXPECT_EQ(bodies, rounds);
    EXPECT_EQ(failures, 3 * rounds);
  }
  EXPECT_EQ(zelvor::test::openDescriptorCount(), before);
}

}  // namespace
