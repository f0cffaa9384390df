// The raw-socket engine over a simulated network and a hand-moved clock:
// scheduling, matching, expiry and the failure words, exactly.
#include "ping/raw_echo_engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "fake_echo.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::EchoSample;
using zelvor::ServerEntry;
using zelvor::test::FakeIcmpNetwork;
using zelvor::test::FakeResolver;
using zelvor::test::host;
using zelvor::test::host6;
using zelvor::test::HostBehaviour;
using zelvor::test::HostPlan;
using zelvor::test::ipv4;
using zelvor::test::ipv6;
using zelvor::test::numberedServers;
using zelvor::test::serversOf;
namespace failure = zelvor::failure;

constexpr std::uint16_t identifier = 0x1234;

// A sample as text: the rtt, or the failure word.
std::string show(const EchoSample& sample) {
  return sample.failure != nullptr ? sample.failure : std::to_string(sample.rtt);
}

std::vector<std::string> shown(const ServerEntry& server) {
  std::vector<std::string> samples;
  for (const EchoSample& sample : server.samples) samples.push_back(show(sample));
  return samples;
}

class RawEngine : public testing::Test {
 protected:
  void run(std::vector<ServerEntry>& servers, std::uint32_t loops, std::uint32_t timeoutMs,
           std::uint32_t airborne) {
    state.settings = {loops, timeoutMs};
    zelvor::RawEchoEngine(state, platform()).run(servers, airborne);
  }

  zelvor::RawEchoEngine::Platform platform() {
    return {[this] { return std::make_unique<zelvor::test::ChannelProxy>(network); },
            resolver.resolver(), identifier, lookupsAtOnce};
  }

  // The servers' positions in the order their requests went out, with the
  // clock reading of each send.
  std::vector<std::pair<std::uint32_t, int>> sends() const {
    std::vector<std::pair<std::uint32_t, int>> order;
    for (const auto& sent : network.sent()) {
      for (int i = 0; i < 256; ++i) {
        if (ipv4(host(i)) == sent.address) order.emplace_back(sent.time, i);
      }
    }
    return order;
  }

  zelvor::test::ManualClock clock;
  FakeIcmpNetwork network{clock};
  FakeResolver resolver;
  std::uint32_t lookupsAtOnce = zelvor::defaultLookupsAtOnce;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{}, {}, progress, clock, stop};
};

TEST_F(RawEngine, ThreeServersGoOutAtOnceAndEachWaitsForItsOwnOutcome) {
  for (int i = 0; i < 3; ++i) network.plan(host(i), {HostBehaviour::reply, 10u * (i + 1)});
  auto servers = numberedServers(3);
  run(servers, 3, 2000, 16);
  using Send = std::pair<std::uint32_t, int>;
  const std::vector<Send> all = sends();
  const std::vector<Send> firstThree(all.begin(), all.begin() + 3);
  EXPECT_EQ(firstThree, (std::vector<Send>{{0, 0}, {0, 1}, {0, 2}}));
  // Server i answers after 10(i+1) ms, so its sends are that far apart.
  std::vector<std::vector<std::uint32_t>> times(3);
  for (const auto& [time, server] : sends()) times[server].push_back(time);
  EXPECT_EQ(times[0], (std::vector<std::uint32_t>{0, 10, 20}));
  EXPECT_EQ(times[1], (std::vector<std::uint32_t>{0, 20, 40}));
  EXPECT_EQ(times[2], (std::vector<std::uint32_t>{0, 30, 60}));
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"10", "10", "10"}));
  EXPECT_EQ(shown(servers[2]), (std::vector<std::string>{"30", "30", "30"}));
  EXPECT_TRUE(state.success.isSet());
  EXPECT_EQ(progress.fraction(), 1.0);
}

TEST_F(RawEngine, OneSlotFinishesEachServerBeforeTheNext) {
  auto servers = numberedServers(3);
  run(servers, 2, 2000, 1);
  std::vector<int> order;
  for (const auto& [time, server] : sends()) order.push_back(server);
  EXPECT_EQ(order, (std::vector<int>{0, 0, 1, 1, 2, 2}));
}

TEST_F(RawEngine, FreedSlotsGoToTheLowestServerWithEchoesLeft) {
  for (int i = 0; i < 20; ++i) network.plan(host(i), {HostBehaviour::reply, 10});
  auto servers = numberedServers(20);
  run(servers, 3, 2000, 16);
  std::vector<std::uint32_t> firstSend(20, 9999);
  for (const auto& [time, server] : sends()) {
    firstSend[server] = std::min(firstSend[server], time);
  }
  for (int i = 0; i < 16; ++i) EXPECT_EQ(firstSend[i], 0u) << i;
  // Servers 0 to 15 keep all 16 slots until their third echo is in; only
  // then do 16 to 19 start.
  for (int i = 16; i < 20; ++i) EXPECT_EQ(firstSend[i], 30u) << i;
  EXPECT_EQ(network.sent().size(), 60u);
  for (const ServerEntry& server : servers) EXPECT_EQ(shown(server).size(), 3u);
}

TEST_F(RawEngine, FailedSendRecordsSockError) {
  network.plan(host(0), {HostBehaviour::sendFails, 0});
  auto servers = numberedServers(1);
  run(servers, 2, 2000, 4);
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"SOCKERROR", "SOCKERROR"}));
  EXPECT_FALSE(state.success.isSet());
}

TEST_F(RawEngine, ReplyAtTheTimeOutSucceedsAndOneLaterTimesOut) {
  network.plan(host(0), {HostBehaviour::reply, 2000});
  network.plan(host(1), {HostBehaviour::reply, 2001});
  network.plan(host(2), {HostBehaviour::drop, 0});
  auto servers = numberedServers(3);
  run(servers, 1, 2000, 16);
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"2000"}));
  EXPECT_EQ(shown(servers[1]), (std::vector<std::string>{"TIMEOUT"}));
  EXPECT_EQ(shown(servers[2]), (std::vector<std::string>{"TIMEOUT"}));
  EXPECT_EQ(progress.fraction(), 1.0);
}

TEST_F(RawEngine, WaitsAreCutAtOneSecond) {
  network.plan(host(0), {HostBehaviour::drop, 0});
  auto servers = numberedServers(1);
  run(servers, 1, 2500, 16);
  EXPECT_EQ(network.waits(), (std::vector<std::uint32_t>{1000, 1000, 1000}));
  EXPECT_EQ(clock.now(), 3000u);
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"TIMEOUT"}));
}

struct WordCase {
  const char* name;
  HostBehaviour behaviour;
  const char* word;
};

void PrintTo(const WordCase& c, std::ostream* out) { *out << c.name; }

class RawEngineWords : public RawEngine, public testing::WithParamInterface<WordCase> {};

TEST_P(RawEngineWords, EachAnswerRecordsItsWordOverEitherFamily) {
  for (const std::string& address : {host(0), host6(0)}) {
    network.plan(address, {GetParam().behaviour, 5});
    auto servers = serversOf({address});
    run(servers, 2, 100, 4);
    EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{GetParam().word, GetParam().word}))
        << address;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RawEngineWords,
    testing::Values(WordCase{"Reply", HostBehaviour::reply, "5"},
                    WordCase{"ForeignIdentifier", HostBehaviour::foreign, "FOREIGN"},
                    WordCase{"UnreachableFromTheServer", HostBehaviour::unreachable, "UNREACHABLE"},
                    // A router's message matches no request in flight.
                    WordCase{"TimeExceededFromARouter", HostBehaviour::expired, "TIMEOUT"},
                    WordCase{"DuplicateRepliesCountOnce", HostBehaviour::twice, "5"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RawEngine, LateReplyNeverCompletesTheNextRequestToTheSameServer) {
  network.plan(host(0), {HostBehaviour::reply, 2500});
  auto servers = numberedServers(1);
  run(servers, 2, 1000, 4);
  // The first request expires at 2000 ms and the second goes out; matched
  // by address, the first reply (2500 ms) would complete it after 500 ms.
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"TIMEOUT", "TIMEOUT"}));
}

TEST_F(RawEngine, OurOwnOutgoingRequestIsIgnored) {
  const zelvor::EchoRequest own = zelvor::buildEchoRequest(identifier, 1, 0);
  network.deliverAt(0, FakeIcmpNetwork::datagram(ipv4(host(0)), {own.begin(), own.end()}),
                    ipv4(host(0)));
  network.plan(host(0), {HostBehaviour::reply, 3});
  auto servers = numberedServers(1);
  run(servers, 1, 2000, 4);
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"3"}));
}

TEST_F(RawEngine, RequestsCarryConsecutiveSequencesAndTheirSendTime) {
  network.plan(host(0), {HostBehaviour::reply, 7});
  auto servers = numberedServers(1);
  run(servers, 3, 2000, 4);
  ASSERT_EQ(network.sent().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& sent = network.sent()[i];
    if (i > 0) {
      EXPECT_EQ(sent.sequence, zelvor::detail::followingSequence(network.sent()[i - 1].sequence));
    }
    const zelvor::EchoRequest expected =
        zelvor::buildEchoRequest(identifier, sent.sequence, sent.time);
    EXPECT_EQ(sent.message, std::vector<std::uint8_t>(expected.begin(), expected.end()));
  }
}

// Each request goes out over its host's family, an IPv6 one as ICMPv6, and
// the replies of both are read and matched side by side.
TEST_F(RawEngine, AClassMayMixFamilies) {
  resolver.name("both.test", host6(3));
  resolver.name("both.test", host(3));
  resolver.name("six.test", host6(4));
  network.plan(host(1), {HostBehaviour::reply, 10});
  network.plan(host6(2), {HostBehaviour::reply, 20});
  network.plan(host(3), {HostBehaviour::reply, 30});
  network.plan(host6(4), {HostBehaviour::reply, 40});
  auto servers = serversOf({host(1), host6(2), "both.test", "six.test"});
  run(servers, 2, 2000, 4);
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"10", "10"}));
  EXPECT_EQ(shown(servers[1]), (std::vector<std::string>{"20", "20"}));
  EXPECT_EQ(shown(servers[2]), (std::vector<std::string>{"30", "30"}));
  EXPECT_EQ(shown(servers[3]), (std::vector<std::string>{"40", "40"}));
  std::vector<zelvor::HostAddress> firstFour;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& sent = network.sent()[i];
    firstFour.push_back(sent.address);
    const zelvor::EchoRequest expected =
        zelvor::buildEchoRequest(identifier, sent.sequence, sent.time, sent.address.family);
    EXPECT_EQ(sent.message, std::vector<std::uint8_t>(expected.begin(), expected.end())) << i;
  }
  EXPECT_EQ(firstFour, (std::vector<zelvor::HostAddress>{ipv4(host(1)), ipv6(host6(2)),
                                                         ipv4(host(3)), ipv6(host6(4))}));

  // Forced to one family, a host without it is BADADDRESS and sends nothing.
  for (const auto& [choice, expected] :
       {std::pair{zelvor::IpChoice::v4,
                  std::vector<std::string>{"10", "BADADDRESS", "30", "BADADDRESS"}},
        std::pair{zelvor::IpChoice::v6,
                  std::vector<std::string>{"BADADDRESS", "20", "40", "40"}}}) {
    network.plan(host6(3), {HostBehaviour::reply, 40});
    auto again = serversOf({host(1), host6(2), "both.test", "six.test"});
    state.settings = {1, 2000, 0, 0, choice};
    zelvor::RawEchoEngine(state, platform()).run(again, 4);
    std::vector<std::string> got;
    for (const ServerEntry& server : again) got.push_back(show(server.samples.at(0)));
    EXPECT_EQ(got, expected) << zelvor::ipChoiceName(choice);
  }
}

TEST_F(RawEngine, ZeroLoopsSendsNothing) {
  auto servers = numberedServers(2);
  servers[0].samples.push_back({nullptr, 1});
  run(servers, 0, 2000, 4);
  EXPECT_TRUE(network.sent().empty());
  EXPECT_TRUE(servers[0].samples.empty());
}

TEST_F(RawEngine, StopEventEndsTheRunBeforeAnySend) {
  stop.set();
  auto servers = numberedServers(2);
  run(servers, 3, 2000, 4);
  EXPECT_TRUE(network.sent().empty());
  EXPECT_FALSE(state.success.isSet());
}

TEST_F(RawEngine, ChannelThatCannotOpenFailsBeforeTouchingSamples) {
  auto servers = numberedServers(1);
  servers[0].samples.push_back({nullptr, 42});
  state.settings = {3, 2000};
  auto refused = platform();
  refused.openChannel = []() -> std::unique_ptr<zelvor::RawIcmpChannel> {
    throw kelvo::Failure(zelvor::rawSocketRefusedText);
  };
  try {
    zelvor::RawEchoEngine(state, refused).run(servers, 16);
    FAIL() << "no failure";
  } catch (const kelvo::Failure& text) {
    EXPECT_EQ(text, "Unable to setup winsock 2");
  }
  EXPECT_EQ(shown(servers[0]), (std::vector<std::string>{"42"}));
}

// ------------------------------------------------------------ host lookups

TEST_F(RawEngine, EachDistinctHostIsLookedUpOnceInListOrderBeforeTheFirstSend) {
  resolver.name("a.test", host(1));
  resolver.name("b.test", host(2));
  resolver.watch([this] { return network.sent().size(); });
  lookupsAtOnce = 1;
  auto servers = serversOf({"a.test", host(3), "a.test", "b.test", host(3), "nothing.invalid"});
  run(servers, 2, 2000, 16);
  // host(3) is an address: nothing to look up.
  EXPECT_EQ(resolver.hostsLookedUp(),
            (std::vector<std::string>{"a.test", "b.test", "nothing.invalid"}));
  for (const auto& lookup : resolver.lookups()) EXPECT_EQ(lookup.sentBefore, 0u) << lookup.host;
  // Duplicates are measured as before, each on its own.
  EXPECT_EQ(network.sent().size(), 10u);
  EXPECT_EQ(shown(servers[2]), (std::vector<std::string>{"0", "0"}));
}

// The loop is the same as when each send looked its host up: a host that
// does not resolve takes one pass per echo and sends nothing, so its failures
// fall where they always fell.
TEST_F(RawEngine, UnresolvableHostsGetBadAddressWhereTheirRequestsWouldHaveGone) {
  network.plan(host(1), {HostBehaviour::reply, 10});
  network.plan(host(3), {HostBehaviour::reply, 10});
  auto servers = serversOf({"nothing.invalid", host(1), "nowhere.invalid", host(3)});
  run(servers, 2, 2000, 2);
  using Send = std::pair<std::uint32_t, int>;
  EXPECT_EQ(sends(), (std::vector<Send>{{0, 1}, {0, 3}, {10, 1}, {10, 3}}));
  const std::vector<std::string> bad = {"BADADDRESS", "BADADDRESS"};
  EXPECT_EQ(shown(servers[0]), bad);
  EXPECT_EQ(shown(servers[1]), (std::vector<std::string>{"10", "10"}));
  EXPECT_EQ(shown(servers[2]), bad);
  EXPECT_EQ(shown(servers[3]), (std::vector<std::string>{"10", "10"}));
  EXPECT_EQ(servers[0].samples[0].failure, failure::badAddress);
}

TEST_F(RawEngine, SlowLookupsChangeNoRoundTrip) {
  std::vector<std::string> names;
  for (int i = 0; i < 16; ++i) {
    names.push_back("slow" + std::to_string(i) + ".test");
    resolver.name(names.back(), host(i));
    network.plan(host(i), {HostBehaviour::reply, 20});
  }
  resolver.takes(clock, 50);
  auto servers = serversOf(names);
  run(servers, 3, 2000, 16);
  for (const ServerEntry& server : servers) {
    EXPECT_EQ(shown(server), (std::vector<std::string>{"20", "20", "20"})) << server.host;
  }
}

TEST_F(RawEngine, StopDuringTheLookupsStartsNoOtherAndSendsNothing) {
  lookupsAtOnce = 1;
  resolver.setOnLookup(2, stop);
  auto servers = serversOf(resolver.numberedNames(5));
  run(servers, 3, 2000, 16);
  EXPECT_EQ(resolver.hostsLookedUp(), (std::vector<std::string>{"n0.test", "n1.test"}));
  EXPECT_TRUE(network.sent().empty());
  for (const ServerEntry& server : servers) EXPECT_TRUE(server.samples.empty());
}

// --------------------------------------------------- arrival stamps and load

TEST_F(RawEngine, RepliesReadLateAreTimedByTheirStampedArrival) {
  // Each send keeps the engine 7 ms, so a 20 ms reply is read 1 ms late.
  network.sendsTake(7);
  for (int i = 0; i < 4; ++i) network.plan(host(i), {HostBehaviour::reply, 20});
  auto unstamped = numberedServers(4);
  run(unstamped, 1, 2000, 4);
  EXPECT_EQ(shown(unstamped[0]), (std::vector<std::string>{"21"}));

  network.stampArrivals();
  auto stamped = numberedServers(4);
  run(stamped, 1, 2000, 4);
  for (const ServerEntry& server : stamped) {
    EXPECT_EQ(shown(server), (std::vector<std::string>{"20"})) << server.host;
  }
}

// -------------------------------------------------------------- progress

struct ProgressCase {
  const char* name;
  std::vector<HostBehaviour> hosts;  // host(i) behaves as hosts[i]
  bool withBadName;                  // and a last server that does not resolve
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class RawEngineProgress : public RawEngine, public testing::WithParamInterface<ProgressCase> {};

TEST_P(RawEngineProgress, EverySampleCountsSoAFinishedRunReachesItsEnd) {
  std::vector<std::string> hosts;
  for (std::size_t i = 0; i < GetParam().hosts.size(); ++i) {
    const int n = static_cast<int>(i);
    network.plan(host(n), {GetParam().hosts[i], 5});
    hosts.push_back(host(n));
  }
  if (GetParam().withBadName) hosts.push_back("nothing.invalid");
  auto servers = serversOf(hosts);
  run(servers, 3, 100, 4);
  for (const ServerEntry& server : servers) EXPECT_EQ(server.samples.size(), 3u) << server.host;
  EXPECT_EQ(progress.fraction(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    FailureMixes, RawEngineProgress,
    testing::Values(
        ProgressCase{"OnlyUnresolvable", {}, true},
        ProgressCase{"OnlyFailedSends", {HostBehaviour::sendFails}, false},
        ProgressCase{"OnlyTimeOuts", {HostBehaviour::drop, HostBehaviour::expired}, false},
        ProgressCase{"EveryKind",
                     {HostBehaviour::reply, HostBehaviour::sendFails, HostBehaviour::drop,
                      HostBehaviour::unreachable, HostBehaviour::foreign, HostBehaviour::twice},
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------ slots beyond servers

// One whole run on a network of its own: when each request went out and to
// where, and the report.
struct RunRecord {
  std::vector<std::pair<std::uint32_t, zelvor::HostAddress>> sends;
  std::string report;
  bool operator==(const RunRecord&) const = default;
};

RunRecord runAlone(std::uint32_t airborne) {
  zelvor::test::ManualClock clock;
  FakeIcmpNetwork network{clock};
  network.plan(host(0), {HostBehaviour::reply, 30});
  network.plan(host(1), {HostBehaviour::unreachable, 5});
  network.plan(host(2), {HostBehaviour::drop, 0});
  network.plan(host(3), {HostBehaviour::sendFails, 0});
  network.plan(host(4), {HostBehaviour::twice, 8});
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{4, 100}, {}, progress, clock, stop};
  zelvor::ServerClass measured{"class", serversOf({host(0), host(1), "nothing.invalid", host(2),
                                                   host(3), host(4), host(0)})};
  zelvor::RawEchoEngine(state,
                        {[&] { return std::make_unique<zelvor::test::ChannelProxy>(network); },
                         zelvor::test::resolveLiteral, identifier})
      .run(measured.servers, airborne);
  RunRecord record;
  for (const auto& sent : network.sent()) record.sends.emplace_back(sent.time, sent.address);
  record.report = zelvor::formatClassReport(measured);
  return record;
}

TEST(RawEngineSlots, MoreSlotsThanServersChangeNothing) {
  const RunRecord asMany = runAlone(7);
  EXPECT_EQ(runAlone(8), asMany);
  // A hand-edited setting: this many slots would take gigabytes.
  EXPECT_EQ(runAlone(100000000), asMany);
  // Five servers can be in flight at once (two never send); four slots hold
  // one back.
  EXPECT_EQ(runAlone(5), asMany);
  EXPECT_NE(runAlone(4), asMany);
}

TEST_F(RawEngine, NoSlotsOrNoServersEndAtOnce) {
  auto servers = numberedServers(2);
  run(servers, 3, 2000, 0);
  std::vector<ServerEntry> none;
  run(none, 3, 2000, 16);
  EXPECT_TRUE(network.sent().empty());
  EXPECT_TRUE(network.waits().empty());
}

}  // namespace
