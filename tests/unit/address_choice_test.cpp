// The `ip` setting's names and the address it picks among a lookup's.
#include "ping/address_choice.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using zelvor::HostAddress;
using zelvor::IcmpFamily;
using zelvor::IpChoice;

HostAddress v4(std::uint8_t last) { return {IcmpFamily::v4, {198, 18, 1, last}}; }
HostAddress v6(std::uint8_t last) {
  return {IcmpFamily::v6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last}};
}

TEST(IpChoice, ReadsAndNamesAutoFourAndSixAlone) {
  const struct {
    const char* text;
    std::optional<IpChoice> choice;
  } cases[] = {
      {"auto", IpChoice::automatic}, {"4", IpChoice::v4},
      {"6", IpChoice::v6},           {"", std::nullopt},
      {"Auto", std::nullopt},        {"v6", std::nullopt},
      {"46", std::nullopt},          {"4 ", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zelvor::parseIpChoice(c.text), c.choice) << '"' << c.text << '"';
    if (c.choice) {
      EXPECT_EQ(zelvor::ipChoiceName(*c.choice), c.text);
    }
  }
}

TEST(ChooseAddress, IpvFourFirstUnderAutoAndOneFamilyWhenForced) {
  const std::vector<HostAddress> dual{v6(1), v4(1), v6(2), v4(2)};
  const std::vector<HostAddress> only4{v4(3), v4(4)};
  const std::vector<HostAddress> only6{v6(5), v6(6)};
  const struct {
    const char* what;
    std::vector<HostAddress> found;
    IpChoice choice;
    std::optional<HostAddress> chosen;
  } cases[] = {
      {"dual-stack, auto: the first IPv4", dual, IpChoice::automatic, v4(1)},
      {"dual-stack, 4", dual, IpChoice::v4, v4(1)},
      {"dual-stack, 6: the first IPv6", dual, IpChoice::v6, v6(1)},
      {"IPv4 alone, auto", only4, IpChoice::automatic, v4(3)},
      {"IPv4 alone, 6", only4, IpChoice::v6, std::nullopt},
      {"IPv6 alone, auto", only6, IpChoice::automatic, v6(5)},
      {"IPv6 alone, 4", only6, IpChoice::v4, std::nullopt},
      {"IPv6 alone, 6", only6, IpChoice::v6, v6(5)},
      {"nothing found", {}, IpChoice::automatic, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zelvor::chooseAddress(c.found, c.choice), c.chosen) << c.what;
}

}  // namespace
