// resolveHosts: each distinct host once, several at a time, and a stop that
// starts nothing new but waits for the lookups already running.
#include "ping/host_lookup.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_echo.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::ServerEntry;
using zelvor::test::FakeResolver;
using zelvor::test::host;
using zelvor::test::host6;
using zelvor::test::ipv4;
using zelvor::test::ipv6;
using zelvor::test::serversOf;

// Each address as its test host's text, "-" for none.
std::vector<std::string> shown(const std::vector<std::optional<zelvor::HostAddress>>& addresses) {
  std::vector<std::string> texts;
  for (const auto& address : addresses) {
    std::string text = "-";
    for (int i = 0; i < 256 && address; ++i) {
      if (ipv4(host(i)) == *address) text = host(i);
      if (ipv6(host6(i)) == *address) text = host6(i);
    }
    texts.push_back(text);
  }
  return texts;
}

TEST(HostLookup, RunsAsManyLookupsAtOnceAsAllowed) {
  FakeResolver resolver;
  // Each thread's first lookup waits until eight are under way together.
  resolver.gatherThreads(8);
  std::vector<std::string> hosts;
  for (int i = 0; i < 20; ++i) hosts.push_back(host(i));
  kelvo::Event stop;
  const auto addresses = zelvor::resolveHosts(serversOf(hosts), resolver.resolver(),
                                              zelvor::IpChoice::automatic, 8, stop);
  EXPECT_EQ(resolver.threadCount(), 8u);
  EXPECT_EQ(resolver.lookups().size(), 20u);
  EXPECT_EQ(shown(addresses), hosts);
}

TEST(HostLookup, StopStartsNoLookupButWaitsForThoseUnderWay) {
  FakeResolver resolver;
  resolver.gatherThreads(3);
  // The third lookup to begin sets the stop while the other two wait for it.
  kelvo::Event stop;
  resolver.setOnLookup(3, stop);
  std::vector<std::string> hosts;
  for (int i = 0; i < 6; ++i) hosts.push_back(host(i));
  const auto addresses = zelvor::resolveHosts(serversOf(hosts), resolver.resolver(),
                                              zelvor::IpChoice::automatic, 3, stop);
  EXPECT_EQ(resolver.lookups().size(), 3u);
  EXPECT_EQ(shown(addresses), (std::vector<std::string>{host(0), host(1), host(2), "-", "-", "-"}));
}

TEST(HostLookup, ResolverThatThrowsLeavesItsHostUnresolved) {
  const zelvor::Resolver throwing = [](const char* name) {
    if (std::string(name) == "bad.test") throw kelvo::Failure("lookup failed");
    return zelvor::test::resolveLiteral(name);
  };
  kelvo::Event stop;
  const auto addresses = zelvor::resolveHosts(serversOf({host(1), "bad.test", host(2), host(3)}),
                                              throwing, zelvor::IpChoice::automatic, 4, stop);
  EXPECT_EQ(shown(addresses), (std::vector<std::string>{host(1), "-", host(2), host(3)}));
}

// Each name is looked up once for both families, and the choice picks
// among what came back.
TEST(HostLookup, TheChoiceTakesEachHostsAddressFromOneLookup) {
  struct Case {
    zelvor::IpChoice choice;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {zelvor::IpChoice::automatic, {host(1), host6(2), host(3), host6(4), "-"}},
      {zelvor::IpChoice::v4, {host(1), "-", host(3), "-", "-"}},
      {zelvor::IpChoice::v6, {host6(1), host6(2), "-", host6(4), "-"}},
  };
  for (const Case& c : cases) {
    FakeResolver resolver;
    resolver.name("both.test", host6(1));  // the system may list IPv6 first
    resolver.name("both.test", host(1));
    resolver.name("six.test", host6(2));
    const std::vector<std::string> hosts = {"both.test", "six.test", host(3), host6(4),
                                            "none.test"};
    kelvo::Event stop;
    const auto addresses =
        zelvor::resolveHosts(serversOf(hosts), resolver.resolver(), c.choice, 2, stop);
    EXPECT_EQ(shown(addresses), c.expected) << zelvor::ipChoiceName(c.choice);
    EXPECT_EQ(resolver.lookups().size(), hosts.size());
  }
}

}  // namespace
