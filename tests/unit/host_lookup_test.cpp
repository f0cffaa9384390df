// resolveHosts: addresses taken as written, each distinct name looked up
// once, several at a time, and a stop that starts nothing new but waits for
// the lookups already running.
#include "ping/host_lookup.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
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
  const std::vector<std::string> names = resolver.numberedNames(20);
  kelvo::Event stop;
  const auto addresses = zelvor::resolveHosts(serversOf(names), resolver.resolver(),
                                              zelvor::IpChoice::automatic, 8, stop);
  EXPECT_EQ(resolver.threadCount(), 8u);
  EXPECT_EQ(resolver.lookups().size(), 20u);
  std::vector<std::string> hosts;
  for (int i = 0; i < 20; ++i) hosts.push_back(host(i));
  EXPECT_EQ(shown(addresses), hosts);
}

TEST(HostLookup, StopStartsNoLookupButWaitsForThoseUnderWay) {
  FakeResolver resolver;
  resolver.gatherThreads(3);
  // The third lookup to begin sets the stop while the other two wait for it.
  kelvo::Event stop;
  resolver.setOnLookup(3, stop);
  const auto addresses =
      zelvor::resolveHosts(serversOf(resolver.numberedNames(6)), resolver.resolver(),
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
// among what came back; addresses are not looked up.
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
    // Two at once: in either order.
    std::vector<std::string> lookedUp = resolver.hostsLookedUp();
    std::sort(lookedUp.begin(), lookedUp.end());
    EXPECT_EQ(lookedUp, (std::vector<std::string>{"both.test", "none.test", "six.test"}));
  }
}

// An address, in any spelling the system reads as one, is taken as written
// on the calling thread, whatever the choice and the stop; the resolver
// sees only names (and addresses with a zone, which only it can read), and
// no more threads look up than there are names.
TEST(HostLookup, AddressesAreTakenAsWrittenWithoutALookup) {
  struct Case {
    const char* what;
    std::vector<std::string> hosts;
    zelvor::IpChoice choice;
    bool stopFirst;
    std::vector<std::string> expected;
    std::vector<std::string> lookedUp;
  };
  const std::string zoned = host6(9) + "%lo";
  const Case cases[] = {
      {"addresses alone",
       {host(1), host6(2), host(1), host(3)},
       zelvor::IpChoice::automatic,
       false,
       {host(1), host6(2), host(1), host(3)},
       {}},
      {"other spellings",
       {"198.18.261", "2001:DB8:1:0:0:0:0:7", "0xc6.18.1.8", "2001:0db8:0001::0010"},
       zelvor::IpChoice::automatic,
       false,
       {host(5), host6(7), host(8), host6(10)},
       {}},
      {"addresses of the other family",
       {host(1), host6(2)},
       zelvor::IpChoice::v6,
       false,
       {"-", host6(2)},
       {}},
      {"beside names",
       {"a.test", host(3), "a.test", host6(4), zoned, "none.test"},
       zelvor::IpChoice::automatic,
       false,
       {host(1), host(3), host(1), host6(4), host6(9), "-"},
       {"a.test", zoned, "none.test"}},
      {"after a stop",
       {"a.test", host(3), host6(4)},
       zelvor::IpChoice::automatic,
       true,
       {"-", host(3), host6(4)},
       {}},
      {"not quite addresses",
       {"198.18.1.256", "198.18.1.1.1", "2001:db8:1::1::2"},
       zelvor::IpChoice::automatic,
       false,
       {host(11), host(12), host6(13)},
       {"198.18.1.256", "198.18.1.1.1", "2001:db8:1::1::2"}},
  };
  for (const Case& c : cases) {
    FakeResolver resolver;
    resolver.name("a.test", host(1));
    resolver.name(zoned, host6(9));
    resolver.name("198.18.1.256", host(11));
    resolver.name("198.18.1.1.1", host(12));
    resolver.name("2001:db8:1::1::2", host6(13));
    kelvo::Event stop;
    if (c.stopFirst) stop.set();
    // One at a time, so that the names come in list order.
    const auto addresses =
        zelvor::resolveHosts(serversOf(c.hosts), resolver.resolver(), c.choice, 1, stop);
    EXPECT_EQ(shown(addresses), c.expected) << c.what;
    EXPECT_EQ(resolver.hostsLookedUp(), c.lookedUp) << c.what;
  }

  // One name among addresses: the calling thread looks it up itself.
  FakeResolver resolver;
  resolver.name("a.test", host(1));
  kelvo::Event stop;
  zelvor::resolveHosts(serversOf({host(1), "a.test", host6(2), host(3)}), resolver.resolver(),
                       zelvor::IpChoice::automatic, 8, stop);
  ASSERT_EQ(resolver.lookups().size(), 1u);
  EXPECT_EQ(resolver.lookups()[0].thread, std::this_thread::get_id());
}

}  // namespace
