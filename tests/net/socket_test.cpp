// kelvo::Socket against a scripted peer on 127.0.0.1: resolution, reading by
// byte, line and length, time-outs, large sends, and failures.
#include "net/socket.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "net/winsock.hpp"
#include "scripted_peer.hpp"
#include "support/failure.hpp"

namespace {

using kelvo::Socket;
using zelvor::test::ScriptedPeer;

constexpr std::uint32_t shortTimeoutMs = 150;
constexpr std::uint32_t generousTimeoutMs = 10000;

// The text of the Failure `make` throws, or "" when it throws nothing.
template <class Make>
std::string failureOf(Make make) {
  try {
    make();
  } catch (const kelvo::Failure& failure) {
    return failure;
  }
  return "";
}

// Sockets and resolution need the socket layer started, as the exchanges
// start it.
class WithWinsock : public testing::Test {
  kelvo::WinsockSession winsock_;
};
using ResolveAddress = WithWinsock;
using SocketOnLoopback = WithWinsock;

TEST_F(ResolveAddress, DottedAndNamedHostsGiveTheirIpv4Address) {
  for (const char* host : {"127.0.0.1", "localhost", "127.000.000.001"}) {
    kelvo::SocketAddress address;
    address.port = 0xBEEF;
    address.zero[3] = 9;
    ASSERT_TRUE(kelvo::resolveAddress(host, address)) << host;
    const unsigned char loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(address.family, 2) << host;
    EXPECT_EQ(std::memcmp(&address.address, loopback, 4), 0) << host;
    EXPECT_EQ(address.port, 0) << host;
    EXPECT_EQ(address.zero[3], 0) << host;
  }
}

TEST_F(ResolveAddress, UnknownNameGivesFalseAndAClearedAddress) {
  kelvo::SocketAddress address;
  address.address = 0x01020304;
  EXPECT_FALSE(kelvo::resolveAddress("nothing.invalid", address));
  EXPECT_EQ(address.address, 0u);
  EXPECT_EQ(address.family, 0);
}

TEST_F(SocketOnLoopback, UnresolvableHostThrowsInvalidAddressAndLeavesNothingOpen) {
  const std::size_t before = zelvor::test::openDescriptorCount();
  EXPECT_EQ(failureOf([] { Socket socket("nothing.invalid", 80, shortTimeoutMs); }),
            "Invalid address: nothing.invalid");
  EXPECT_EQ(zelvor::test::openDescriptorCount(), before);
}

TEST_F(SocketOnLoopback, RefusedConnectThrowsTheSocketError) {
  std::uint16_t closedPort = 0;
  {
    ScriptedPeer peer;
    closedPort = peer.port();
  }
  const std::size_t before = zelvor::test::openDescriptorCount();
  const std::string failure =
      failureOf([&] { Socket socket("127.0.0.1", closedPort, shortTimeoutMs); });
  EXPECT_EQ(failure.rfind("Socket error ", 0), 0u) << failure;
  EXPECT_NE(failure, "Socket error 0");
  EXPECT_EQ(zelvor::test::openDescriptorCount(), before);
}

TEST_F(SocketOnLoopback, SilentPeerYieldsNothingAfterEachTimeOut) {
  ScriptedPeer peer;
  peer.pause(4 * shortTimeoutMs).close();
  peer.start();
  Socket socket("127.0.0.1", peer.port(), shortTimeoutMs);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.readByte(), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(shortTimeoutMs));
  char buffer[16];
  EXPECT_EQ(socket.readSome(buffer, sizeof buffer), 0);
  EXPECT_EQ(socket.readExact(buffer, sizeof buffer), 0);
}

TEST_F(SocketOnLoopback, ReadExactReturnsWhatCameBeforeTheStall) {
  ScriptedPeer peer;
  peer.send("abc").pause(4 * shortTimeoutMs).send("def").close();
  peer.start();
  Socket socket("127.0.0.1", peer.port(), shortTimeoutMs);
  char buffer[6];
  EXPECT_EQ(socket.readExact(buffer, 6), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(socket.readExact(buffer, 0), 0);
}

// Successive readLine results of one size until the peer is done.
std::vector<std::string> readLines(Socket& socket, int size, int calls) {
  std::vector<std::string> lines;
  std::string buffer(static_cast<std::size_t>(size), 'X');
  for (int i = 0; i < calls; ++i) {
    const int count = socket.readLine(buffer.data(), size);
    EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '\0');
    lines.emplace_back(buffer.data(), static_cast<std::size_t>(count));
  }
  return lines;
}

TEST_F(SocketOnLoopback, ReadLineKeepsLineEndsAndEveryByteValue) {
  ScriptedPeer peer;
  const std::string seventeen = "HTTP/1.0 200 OK\r\n";
  const std::string withByte255 = std::string("a\xff") + "b\n";
  peer.send(seventeen).send(withByte255).close();
  peer.start();
  Socket socket("127.0.0.1", peer.port(), generousTimeoutMs);
  EXPECT_EQ(readLines(socket, 128, 3), (std::vector<std::string>{seventeen, withByte255, ""}));
}

TEST_F(SocketOnLoopback, ReadLineCutsLongLinesAndReadsNothingWithSizeOne) {
  ScriptedPeer peer;
  peer.send(std::string(300, 'x') + "\n").close();
  peer.start();
  Socket socket("127.0.0.1", peer.port(), generousTimeoutMs);
  EXPECT_EQ(readLines(socket, 1, 1), (std::vector<std::string>{""}));
  EXPECT_EQ(readLines(socket, 256, 3),
            (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x') + "\n", ""}));
}

TEST_F(SocketOnLoopback, SendAllDeliversEveryByteOnceInOrderAcrossPieces) {
  std::string data;
  for (int i = 0; i < 10000; ++i) data += static_cast<char>('a' + i % 26);
  zelvor::test::PeerOptions options;
  options.receiveBufferBytes = 2048;
  ScriptedPeer peer(options);
  peer.receiveSlowly(data.size(), 1000, 2).close();
  peer.start();
  {
    Socket socket("127.0.0.1", peer.port(), generousTimeoutMs);
    socket.sendAll(data);
  }
  const zelvor::test::ConnectionRecord record = peer.record(0);
  EXPECT_EQ(record.bytes, data);
  EXPECT_GT(record.pieces.size(), 1u);
}

TEST_F(SocketOnLoopback, SendToAPeerThatResetIsAFailureNotASignal) {
  ScriptedPeer peer;
  peer.abort();
  peer.start();
  Socket socket("127.0.0.1", peer.port(), generousTimeoutMs);
  ASSERT_EQ(peer.record(0).outcome, "completed");
  const std::string chunk(64 * 1024, 'z');
  // Sending into a reset connection fails within a few sends; without
  // MSG_NOSIGNAL the process would die of SIGPIPE instead.
  const std::string failure = failureOf([&] {
    for (int i = 0; i < 64; ++i) socket.sendAll(chunk);
  });
  EXPECT_EQ(failure.rfind("Socket error ", 0), 0u) << failure;
}

}  // namespace
