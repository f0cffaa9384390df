#include "ping/address_choice.hpp"

#include <algorithm>

namespace zelvor {

namespace {

struct ChoiceName {
  IpChoice choice;
  std::string_view name;
};
constexpr ChoiceName choiceNames[] = {
    {IpChoice::automatic, "auto"}, {IpChoice::v4, "4"}, {IpChoice::v6, "6"}};

std::optional<HostAddress> firstOf(std::span<const HostAddress> found, IcmpFamily family) {
  const auto first = std::find_if(found.begin(), found.end(), [&](const HostAddress& address) {
    return address.family == family;
  });
  if (first == found.end()) return std::nullopt;
  return *first;
}

}  // namespace

std::optional<IpChoice> parseIpChoice(std::string_view text) {
  for (const ChoiceName& known : choiceNames)
    if (known.name == text) return known.choice;
  return std::nullopt;
}

std::string_view ipChoiceName(IpChoice choice) {
  for (const ChoiceName& known : choiceNames)
    if (known.choice == choice) return known.name;
  return {};
}

std::optional<HostAddress> chooseAddress(std::span<const HostAddress> found, IpChoice choice) {
  switch (choice) {
    case IpChoice::v4:
      return firstOf(found, IcmpFamily::v4);
    case IpChoice::v6:
      return firstOf(found, IcmpFamily::v6);
    case IpChoice::automatic:
      break;
  }
  if (auto v4 = firstOf(found, IcmpFamily::v4)) return v4;
  return firstOf(found, IcmpFamily::v6);
}

}  // namespace zelvor
