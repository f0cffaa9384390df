// The program's two exchanges with the site, as siteServices makes them, on
// the wire: each takes a body up to its own bound and refuses a longer one
// after reading about the bound, not the whole reply.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "app/program_state.hpp"
#include "app/site_services.hpp"
#include "scripted_peer.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::test::ConnectionRecord;
using zelvor::test::ScriptedPeer;

constexpr std::size_t bodyPiece = 64 * 1024;

std::string lengthHead(std::size_t length) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}
const std::string plainHead = "HTTP/1.0 200 OK\r\n\r\n";

enum class Exchange { list, handle };

struct BoundCase {
  const char* name;
  Exchange exchange;
  bool announced;  // whether the head carries the body's length
  std::size_t bodySize;
  bool taken;  // whether the body comes back or is refused
};

void PrintTo(const BoundCase& boundCase, std::ostream* out) { *out << boundCase.name; }

// The body the exchange returned, or the text it threw.
std::string outcome(const zelvor::WorkflowServices& services, Exchange exchange,
                    std::uint16_t port) {
  try {
    if (exchange == Exchange::list) return "body:" + services.fetch("127.0.0.1", "/zv_fetch", port);
    return "body:" + services.post("127.0.0.1", "/zelvor", "Class\nEND\n", port);
  } catch (const kelvo::Failure& failure) {
    return "failure:" + failure;
  }
}

class SiteExchangeBound : public testing::TestWithParam<BoundCase> {};

TEST_P(SiteExchangeBound, TakesTheBodyUpToItsBound) {
  const BoundCase& c = GetParam();
  const std::size_t bound =
      c.exchange == Exchange::list ? zelvor::maxListReplyBytes : zelvor::maxHandleReplyBytes;
  std::string body(c.bodySize, 'b');
  ScriptedPeer peer;
  peer.readRequest().send(c.announced ? lengthHead(body.size()) : plainHead);
  peer.sendInPieces(body, bodyPiece, 0).close();
  peer.start();

  zelvor::ProgramState state{zelvor::Settings{}};
  const std::string got = outcome(zelvor::siteServices(state.runState), c.exchange, peer.port());
  if (c.taken) {
    EXPECT_TRUE(got == "body:" + body) << got.substr(0, 80);
  } else {
    EXPECT_EQ(got, "failure:Bad HTTP Response: body over " + std::to_string(bound) + " bytes");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SiteExchangeBound,
    testing::Values(
        BoundCase{"HandleAtTheBound", Exchange::handle, false, 4096, true},
        BoundCase{"HandleOnePastTheBound", Exchange::handle, false, 4097, false},
        BoundCase{"AnnouncedHandleAtTheBound", Exchange::handle, true, 4096, true},
        BoundCase{"AnnouncedHandleOnePastTheBound", Exchange::handle, true, 4097, false},
        BoundCase{"ListAtTheBound", Exchange::list, false, 16 * 1024 * 1024, true},
        BoundCase{"AnnouncedListAtTheBound", Exchange::list, true, 16 * 1024 * 1024, true},
        BoundCase{"ListOnePastTheBound", Exchange::list, false, 16 * 1024 * 1024 + 1, false},
        BoundCase{"AnnouncedListOnePastTheBound", Exchange::list, true, 16 * 1024 * 1024 + 1,
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply of 64 MiB that trickles in: the list exchange stops taking it
// about the bound in, and an announced one before its body. What the peer
// managed to send beyond that is what the sockets' buffers held.
TEST(SiteExchangeBound, LongSlowListIsRefusedAfterAboutTheBound) {
  constexpr std::size_t replySize = 64 * 1024 * 1024;
  const std::string refused = "failure:Bad HTTP Response: body over 16777216 bytes";
  const std::string body(replySize, 'b');
  for (const bool announced : {false, true}) {
    SCOPED_TRACE(announced ? "announced" : "unannounced");
    ScriptedPeer peer;
    peer.readRequest().send(announced ? lengthHead(replySize) : plainHead);
    peer.sendInPieces(body, bodyPiece, 1).close();
    peer.start();

    zelvor::ProgramState state{zelvor::Settings{}};
    EXPECT_EQ(outcome(zelvor::siteServices(state.runState), Exchange::list, peer.port()), refused);
    const ConnectionRecord record = peer.record(0);
    EXPECT_NE(record.outcome, "completed");
    if (announced) {
      EXPECT_LT(record.sent, zelvor::maxListReplyBytes);
    } else {
      EXPECT_GT(record.sent, zelvor::maxListReplyBytes);
      EXPECT_LT(record.sent, 2 * zelvor::maxListReplyBytes);
    }
  }
}

}  // namespace
