// runPing's choice of engine: the raw engine first, the echo service as its
// fallback, and "Ping never succeeded" when neither measured anything.
#include "ping/ping_run.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "fake_echo.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::ServerEntry;
using zelvor::test::HostBehaviour;

class PingRun : public testing::Test {
 protected:
  PingRun() {
    platforms.raw = {[this] { return std::make_unique<zelvor::test::ChannelProxy>(network); },
                     zelvor::test::resolveLiteral, 0x1234};
    platforms.dll = {[this] { return service; }, zelvor::test::resolveLiteral};
  }

  // Why runPing measured nothing, or "" when it did; the raw engine's
  // failure goes to rawFailure.
  std::string outcome(std::uint32_t loops, std::uint32_t airborne, std::uint32_t threads) {
    const zelvor::PingEnd end =
        zelvor::runPing(state, servers, {loops, 500, airborne, threads}, platforms);
    rawFailure = end.rawFailure.value_or(kelvo::Failure(""));
    return end.failure.value_or(kelvo::Failure(""));
  }

  void refuseRawSockets() {
    platforms.raw.openChannel = []() -> std::unique_ptr<zelvor::RawIcmpChannel> {
      throw kelvo::Failure(zelvor::rawSocketRefusedText);
    };
  }

  void refuseEchoService() {
    platforms.dll.bindService = []() -> std::shared_ptr<zelvor::EchoService> {
      throw kelvo::Failure(zelvor::echoServiceRefusedText);
    };
  }

  std::vector<ServerEntry> servers = {{"198.18.1.1", {{nullptr, 99}}}, {"198.18.1.2", {}}};
  zelvor::test::ManualClock clock;
  zelvor::test::FakeIcmpNetwork network{clock};
  std::shared_ptr<zelvor::test::FakeEchoService> service =
      std::make_shared<zelvor::test::FakeEchoService>();
  zelvor::EchoPlatforms platforms;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{}, {}, progress, clock, stop};
  std::string rawFailure;
};

TEST_F(PingRun, BothEnginesDisabledNeverSucceedsAndTouchesNothing) {
  EXPECT_EQ(outcome(3, 0, 0), "Ping never succeeded");
  EXPECT_TRUE(network.sent().empty());
  EXPECT_TRUE(service->echoes().empty());
  EXPECT_EQ(servers[0].samples.size(), 1u);
}

TEST_F(PingRun, RawSuccessKeepsItsFailuresAndSkipsTheEchoService) {
  network.plan("198.18.1.2", {HostBehaviour::drop, 0});
  EXPECT_EQ(outcome(2, 16, 4), "");
  EXPECT_TRUE(service->echoes().empty());
  EXPECT_EQ(servers[0].samples.size(), 2u);
  EXPECT_EQ(servers[1].samples[0].failure, zelvor::failure::timeout);
  EXPECT_EQ(state.settings.loops, 2u);
  EXPECT_EQ(state.settings.timeoutMs, 500u);
  EXPECT_EQ(state.settings.airborne, 16u);
  EXPECT_EQ(state.settings.threads, 4u);
}

TEST_F(PingRun, RawWithoutSuccessFallsBackAndTheServiceSamplesReplaceItsOwn) {
  network.plan("198.18.1.1", {HostBehaviour::drop, 0});
  network.plan("198.18.1.2", {HostBehaviour::unreachable, 1});
  EXPECT_EQ(outcome(2, 16, 2), "");
  EXPECT_EQ(network.sent().size(), 4u);
  EXPECT_EQ(service->echoes().size(), 4u);
  for (const ServerEntry& server : servers) {
    ASSERT_EQ(server.samples.size(), 2u);
    EXPECT_EQ(server.samples[0].failure, nullptr);
    EXPECT_EQ(server.samples[0].rtt, 7);
  }
}

TEST_F(PingRun, RefusedRawSocketWithoutFallbackNeverSucceeds) {
  refuseRawSockets();
  EXPECT_EQ(outcome(3, 16, 0), "Ping never succeeded");
}

TEST_F(PingRun, RefusedRawSocketFallsBackToTheService) {
  refuseRawSockets();
  EXPECT_EQ(outcome(3, 16, 4), "");
  EXPECT_EQ(service->echoes().size(), 6u);
}

TEST_F(PingRun, BothRefusedGivesTheServicesTextAndTellsTheRawEnginesOwn) {
  refuseRawSockets();
  refuseEchoService();
  EXPECT_EQ(outcome(3, 16, 4), "Unable to setup icmp.dll");
  EXPECT_EQ(rawFailure, zelvor::rawSocketRefusedText);
}

TEST_F(PingRun, ARawEngineThatRanLeavesNoFailureToTell) {
  network.plan("198.18.1.1", {HostBehaviour::drop, 0});
  network.plan("198.18.1.2", {HostBehaviour::drop, 0});
  refuseEchoService();
  EXPECT_EQ(outcome(1, 16, 4), "Unable to setup icmp.dll");
  EXPECT_EQ(rawFailure, "");
}

TEST_F(PingRun, ServiceWithoutSuccessNeverSucceeds) {
  service->plan("198.18.1.1", {false, 0});
  service->plan("198.18.1.2", {false, 0});
  EXPECT_EQ(outcome(1, 0, 4), "Ping never succeeded");
  EXPECT_EQ(servers[0].samples[0].failure, zelvor::failure::serviceFailure);
}

TEST_F(PingRun, StopBeforeTheFirstEngineReturnsQuietly) {
  stop.set();
  EXPECT_EQ(outcome(3, 16, 4), "");
  EXPECT_TRUE(network.sent().empty());
  EXPECT_TRUE(service->echoes().empty());
}

TEST_F(PingRun, ZeroLoopsNeverSucceeds) {
  EXPECT_EQ(outcome(0, 16, 4), "Ping never succeeded");
  EXPECT_TRUE(network.sent().empty());
  EXPECT_TRUE(service->echoes().empty());
}

}  // namespace
