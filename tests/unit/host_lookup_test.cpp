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
using zelvor::test::ipv4;
using zelvor::test::serversOf;

// Each address as its dotted text, "-" for none.
std::vector<std::string> shown(const std::vector<std::optional<kelvo::SocketAddress>>& addresses) {
  std::vector<std::string> texts;
  for (const auto& address : addresses) {
    std::string text = "-";
    for (int i = 0; i < 256 && address; ++i) {
      if (ipv4(host(i)) == address->address) text = host(i);
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
  const auto addresses = zelvor::resolveHosts(serversOf(hosts), resolver.resolver(), 8, stop);
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
  const auto addresses = zelvor::resolveHosts(serversOf(hosts), resolver.resolver(), 3, stop);
  EXPECT_EQ(resolver.lookups().size(), 3u);
  EXPECT_EQ(shown(addresses), (std::vector<std::string>{host(0), host(1), host(2), "-", "-", "-"}));
}

TEST(HostLookup, ResolverThatThrowsLeavesItsHostUnresolved) {
  const zelvor::Resolver throwing = [](const char* name, kelvo::SocketAddress& address) -> bool {
    if (std::string(name) == "bad.test") throw kelvo::Failure("lookup failed");
    return zelvor::test::resolveDotted(name, address);
  };
  kelvo::Event stop;
  const auto addresses =
      zelvor::resolveHosts(serversOf({host(1), "bad.test", host(2), host(3)}), throwing, 4, stop);
  EXPECT_EQ(shown(addresses), (std::vector<std::string>{host(1), "-", host(2), host(3)}));
}

}  // namespace
