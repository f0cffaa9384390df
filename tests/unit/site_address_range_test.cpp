// Address ranges (ADDRESS/PREFIX) as the operator writes them, and which
// client addresses lie in them.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "site/address_range.hpp"

namespace {

namespace site = zelvor::site;

TEST(AddressRange, ReadsIpv4AndIpv6WithOrWithoutAPrefix) {
  const struct {
    const char* text;
    bool v6;
    unsigned prefix;
    std::array<std::uint8_t, 16> network;
  } cases[] = {
      {"127.0.0.0/8", false, 8, {127}},
      {"192.0.2.7", false, 32, {192, 0, 2, 7}},
      {"0.0.0.0/0", false, 0, {}},
      {"192.0.2.128/25", false, 25, {192, 0, 2, 128}},
      {"::1", true, 128, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"::/0", true, 0, {}},
      {"2001:db8::/32", true, 32, {0x20, 0x01, 0x0d, 0xb8}},
      {"2001:DB8:8000::/33", true, 33, {0x20, 0x01, 0x0d, 0xb8, 0x80}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<site::AddressRange> range = site::parseAddressRange(c.text);
    ASSERT_TRUE(range);
    EXPECT_EQ(*range, (site::AddressRange{c.v6, c.network, c.prefix}));
  }
}

TEST(AddressRange, RefusesWhatIsNotOneAddressAndPrefix) {
  for (const char* bad : {"", "/8", "127.0.0.0/", "127.0.0.0/33", "::/129", "127.0.0.0/8x",
                          "127.0.0.0/+8", "127.0.0.0/-1", "127.0.0.0/8/8", "127.0.0.0/0008",
                          " 127.0.0.0/8", "127.0.0.0/8 ", "127.1/16", "localhost", "fe80::1%eth0",
                          // Bits set past the prefix.
                          "10.0.0.1/8", "2001:db8::1/32", "192.0.2.129/25",
                          // An IPv4 address in IPv6 clothes with a prefix of either.
                          "::ffff:127.0.0.0/104", "::ffff:127.0.0.1"})
    EXPECT_EQ(site::parseAddressRange(bad), std::nullopt) << bad;
}

TEST(AddressRange, ContainsTheAddressesUnderItsPrefixOfItsFamily) {
  const struct {
    const char* range;
    const char* address;
    bool inside;
  } cases[] = {
      {"127.0.0.0/8", "127.0.0.1", true},
      {"127.0.0.0/8", "127.255.255.254", true},
      {"127.0.0.0/8", "128.0.0.1", false},
      {"127.0.0.0/8", "126.255.255.255", false},
      // What a dual-stack socket reports for an IPv4 peer.
      {"127.0.0.0/8", "::ffff:127.0.0.1", true},
      {"127.0.0.0/8", "::1", false},
      {"127.0.0.0/8", "", false},
      {"127.0.0.0/8", "127.0.0.1 ", false},
      {"127.0.0.0/8", "unknown", false},
      {"192.0.2.128/25", "192.0.2.128", true},
      {"192.0.2.128/25", "192.0.2.255", true},
      {"192.0.2.128/25", "192.0.2.127", false},
      {"192.0.2.7", "192.0.2.7", true},
      {"192.0.2.7", "192.0.2.6", false},
      {"0.0.0.0/0", "203.0.113.1", true},
      {"0.0.0.0/0", "2001:db8::1", false},
      {"::1", "::1", true},
      {"::1", "0:0:0:0:0:0:0:1", true},
      {"::1", "::2", false},
      {"::1", "127.0.0.1", false},
      {"2001:db8::/33", "2001:db8:7fff:ffff::1", true},
      {"2001:db8::/33", "2001:db8:8000::", false},
      {"2001:db8::/33", "2001:db9::", false},
      {"::/0", "fe80::1", true},
      {"::/0", "127.0.0.1", false},
      {"::/0", "::ffff:127.0.0.1", false},
      {"::/0", "fe80::1%eth0", false},
  };
  for (const auto& c : cases) {
    const std::optional<site::AddressRange> range = site::parseAddressRange(c.range);
    ASSERT_TRUE(range) << c.range;
    EXPECT_EQ(range->contains(c.address), c.inside) << c.range << " " << c.address;
  }
}

TEST(AddressRange, LoopbackIsThisMachineInBothFamilies) {
  const auto loopback = site::loopbackRanges();
  ASSERT_EQ(loopback.size(), 2u);
  EXPECT_EQ(loopback[0], *site::parseAddressRange("127.0.0.0/8"));
  EXPECT_EQ(loopback[1], *site::parseAddressRange("::1/128"));
}

}  // namespace
