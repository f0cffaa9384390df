// ScriptedPeer against a minimal client: what it reads and records, what it
// sends and when, slow receiving, several connections, and a bounded life.
#include "scripted_peer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "loopback_socket.hpp"

namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using zelvor::test::ConnectionRecord;
using zelvor::test::connectLoopback;
using zelvor::test::LoopbackSocket;
using zelvor::test::openDescriptorCount;
using zelvor::test::PeerOptions;
using zelvor::test::ReceiveResult;
using zelvor::test::ScriptedPeer;

constexpr std::uint32_t generousMs = 10000;
// Long enough that a reply which did not wait would have arrived.
constexpr std::uint32_t quietMs = 150;

// Everything the peer sends until it ends the connection, and how it ended.
struct Reply {
  std::string bytes;
  ReceiveResult end;
};

Reply readToEnd(LoopbackSocket& client) {
  Reply reply{{}, ReceiveResult::timedOut};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(generousMs);
  do {
    reply.end = client.receiveSome(reply.bytes, 4096, 100);
  } while ((reply.end == ReceiveResult::received || reply.end == ReceiveResult::timedOut) &&
           Clock::now() < deadline);
  return reply;
}

std::string readExactly(LoopbackSocket& client, std::size_t count) {
  std::string bytes;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(generousMs);
  while (bytes.size() < count && Clock::now() < deadline) {
    const ReceiveResult result = client.receiveSome(bytes, count - bytes.size(), 100);
    if (result == ReceiveResult::peerClosed || result == ReceiveResult::reset) break;
  }
  return bytes;
}

// True when nothing arrives for quietMs: the peer is still waiting.
bool staysQuiet(LoopbackSocket& client) {
  std::string bytes;
  return client.receiveSome(bytes, 1, quietMs) == ReceiveResult::timedOut;
}

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ScriptedPeerReads, RequestWaitsForTheAnnouncedBodyAndIsRecordedExactly) {
  ScriptedPeer peer;
  peer.readRequest().send("HTTP/1.0 200 OK\r\n\r\n");
  peer.start();
  const std::string head = "POST /r HTTP/1.0\r\nHost: a\r\ncontent-LENGTH:  7\r\n\r\n";
  const std::string body = "ab\0\r\n\r\n"s;

  LoopbackSocket client = connectLoopback(peer.port());
  client.sendAll(head, generousMs);
  client.sendAll(body.substr(0, 3), generousMs);
  EXPECT_TRUE(staysQuiet(client));
  client.sendAll(body.substr(3), generousMs);
  const Reply reply = readToEnd(client);
  client.close();

  EXPECT_EQ(reply.bytes, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(reply.end, ReceiveResult::peerClosed);
  const ConnectionRecord record = peer.record(0);
  EXPECT_EQ(record.bytes, head + body);
  EXPECT_EQ(record.outcome, "completed");
}

TEST(ScriptedPeerReads, ReadBytesTakesExactlyThatManyAndLeavesTheRestForTheNextStep) {
  ScriptedPeer peer;
  peer.readBytes(4).send("A").readBytes(2).send("B");
  peer.start();

  LoopbackSocket client = connectLoopback(peer.port());
  client.sendAll("abc", generousMs);
  EXPECT_TRUE(staysQuiet(client));
  client.sendAll("defg", generousMs);
  const Reply reply = readToEnd(client);
  client.close();

  EXPECT_EQ(reply.bytes, "AB");
  EXPECT_EQ(reply.end, ReceiveResult::peerClosed);
  EXPECT_EQ(peer.received(0), "abcdefg");
}

TEST(ScriptedPeerReads, AClientThatLeavesEarlyIsReportedWithWhatItSent) {
  ScriptedPeer peer;
  peer.readBytes(10).send("never");
  peer.start();

  LoopbackSocket client = connectLoopback(peer.port());
  client.sendAll("abcd", generousMs);
  client.close();

  const ConnectionRecord record = peer.record(0);
  EXPECT_EQ(record.bytes, "abcd");
  EXPECT_EQ(record.sent, 0u);
  EXPECT_EQ(record.outcome, "readBytes(10): the client closed after 4 bytes");
}

TEST(ScriptedPeerReads, SlowReceivingTakesALargeSendInSmallPiecesInOrder) {
  PeerOptions options;
  options.receiveBufferBytes = 4096;
  ScriptedPeer peer(options);
  peer.receiveSlowly(10000, 1000, 5).send("done");
  peer.start();
  std::string payload(10000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);

  LoopbackSocket client = connectLoopback(peer.port());
  client.sendAll(payload, generousMs);
  EXPECT_EQ(readExactly(client, 4), "done");
  client.close();

  const ConnectionRecord record = peer.record(0);
  EXPECT_EQ(record.bytes, payload);
  EXPECT_GE(record.pieces.size(), 10u);
  for (const std::size_t piece : record.pieces) EXPECT_LE(piece, 1000u);
  EXPECT_EQ(record.outcome, "completed");
}

TEST(ScriptedPeerSends, PiecesArriveInOrderOnlyAfterThePauseAndTheDrainIsRecorded) {
  ScriptedPeer peer;
  peer.readBytes(3).send("ab\0c"s).pause(200).sendInPieces("defgh", 2, 20).close();
  peer.start();

  LoopbackSocket client = connectLoopback(peer.port());
  const Clock::time_point asked = Clock::now();
  client.sendAll("xyz", generousMs);
  const Reply reply = readToEnd(client);
  const long long tookMs = msSince(asked);
  // The peer has stopped sending but still reads until the client closes.
  client.sendAll("late", generousMs);
  client.close();

  EXPECT_EQ(reply.bytes, "ab\0cdefgh"s);
  EXPECT_EQ(reply.end, ReceiveResult::peerClosed);
  EXPECT_GE(tookMs, 200 + 2 * 20);
  const ConnectionRecord record = peer.record(0);
  EXPECT_EQ(record.bytes, "xyzlate");
  EXPECT_EQ(record.sent, 9u);
  EXPECT_EQ(record.outcome, "completed");
}

TEST(ScriptedPeerSends, AbortEndsBothDirectionsAtOnce) {
  ScriptedPeer peer;
  peer.readBytes(3).abort();
  peer.start();

  LoopbackSocket client = connectLoopback(peer.port());
  client.sendAll("abc", generousMs);
  const Reply reply = readToEnd(client);

  EXPECT_EQ(reply.bytes, "");
  // Linux reports the reset to the receive; Wine 8 reads it as an orderly end
  // there and reports the reset to the next send.
  EXPECT_TRUE(reply.end == ReceiveResult::reset || reply.end == ReceiveResult::peerClosed)
      << static_cast<int>(reply.end);
  // After a graceful close the peer would still read this.
  EXPECT_THROW(client.sendAll("more", generousMs), std::runtime_error);
  EXPECT_EQ(peer.record(0).outcome, "completed");
}

TEST(ScriptedPeerLife, ServesConnectionsInTurnWithSeparateRecords) {
  ScriptedPeer peer;
  peer.readRequest().send("R");
  peer.start(2);
  const std::string requests[] = {"GET /1 HTTP/1.0\r\n\r\n", "GET /22 HTTP/1.0\r\n\r\n"};

  for (const std::string& request : requests) {
    LoopbackSocket client = connectLoopback(peer.port());
    client.sendAll(request, generousMs);
    EXPECT_EQ(readToEnd(client).bytes, "R");
  }

  EXPECT_EQ(peer.received(0), requests[0]);
  EXPECT_EQ(peer.received(1), requests[1]);
  EXPECT_EQ(peer.connections(), 2u);
  EXPECT_THROW(peer.record(2), std::out_of_range);
}

TEST(ScriptedPeerLife, AClientThatNeverComesIsReported) {
  PeerOptions options;
  options.acceptTimeoutMs = 100;
  ScriptedPeer peer(options);
  peer.readRequest();
  peer.start();

  try {
    peer.received(0);
    ADD_FAILURE() << "received() returned without a client";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "ScriptedPeer: connection 0 was never served: no client connected within 100 ms");
  }
  EXPECT_EQ(peer.connections(), 0u);
}

TEST(ScriptedPeerLife, DestructionWithoutAClientIsPrompt) {
  const Clock::time_point start = Clock::now();
  {
    ScriptedPeer peer;
    peer.readRequest().send("unsent");
    peer.start();
  }
  EXPECT_LT(msSince(start), 1000);
}

TEST(ScriptedPeerLife, DestructionMidScriptIsPrompt) {
  Clock::time_point destroying;
  LoopbackSocket client;
  {
    ScriptedPeer peer;
    peer.pause(generousMs);
    peer.start();
    client = connectLoopback(peer.port());
    // Only the peer's thread knows when it has accepted; wait for it.
    for (int look = 0; look < 200 && peer.connections() == 0; ++look) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(peer.connections(), 1u);
    destroying = Clock::now();
  }
  EXPECT_LT(msSince(destroying), 1000);
}

TEST(ScriptedPeerLife, LeavesNoDescriptorsBehind) {
  const auto useOnce = [] {
    ScriptedPeer peer;
    peer.readRequest().send("HTTP/1.0 204 No Content\r\n\r\n");
    peer.start();
    LoopbackSocket client = connectLoopback(peer.port());
    client.sendAll("GET / HTTP/1.0\r\n\r\n", generousMs);
    readToEnd(client);
    client.close();
    peer.record(0);
  };
  // The first use may load what the system keeps for good (Winsock on
  // Windows); count from after it.
  useOnce();
  const std::size_t before = openDescriptorCount();
  useOnce();
  EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
