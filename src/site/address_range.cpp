#include "site/address_range.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <string>

namespace zelvor::site {

namespace {

struct Address {
  bool v6 = false;
  std::array<std::uint8_t, 16> bytes{};
};

// inet_pton takes only the usual spellings: no zone ("%eth0"), no octal or
// short IPv4 forms.
std::optional<Address> parseAddress(std::string_view text) {
  const std::string zeroEnded(text);
  Address address;
  if (::inet_pton(AF_INET, zeroEnded.c_str(), address.bytes.data()) == 1) return address;
  if (::inet_pton(AF_INET6, zeroEnded.c_str(), address.bytes.data()) != 1) return std::nullopt;
  constexpr std::array<std::uint8_t, 12> mappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::equal(mappedPrefix.begin(), mappedPrefix.end(), address.bytes.begin())) {
    std::copy_n(address.bytes.begin() + 12, 4, address.bytes.begin());
    std::fill(address.bytes.begin() + 4, address.bytes.end(), 0);
    return address;
  }
  address.v6 = true;
  return address;
}

// Whether the first `bits` bits of the two agree.
bool samePrefix(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b,
                unsigned bits) {
  const unsigned whole = bits / 8;
  if (!std::equal(a.begin(), a.begin() + whole, b.begin())) return false;
  if (bits % 8 == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF << (8 - bits % 8));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool AddressRange::contains(std::string_view text) const {
  const std::optional<Address> address = parseAddress(text);
  return address && address->v6 == v6 && samePrefix(address->bytes, network, prefix);
}

std::optional<AddressRange> parseAddressRange(std::string_view text) {
  const std::size_t slash = text.find('/');
  const std::optional<Address> address = parseAddress(text.substr(0, slash));
  // A mapped address would be taken for IPv4 with an IPv6 prefix length.
  if (!address || (!address->v6 && text.substr(0, slash).find(':') != std::string_view::npos))
    return std::nullopt;
  const unsigned bits = address->v6 ? 128 : 32;
  unsigned prefix = bits;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const char* const end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, prefix);
    if (digits.empty() || digits.size() > 3 || error != std::errc() || stop != end || prefix > bits)
      return std::nullopt;
  }
  const AddressRange range{address->v6, address->bytes, prefix};
  std::array<std::uint8_t, 16> cut = range.network;
  for (unsigned bit = prefix; bit < bits; ++bit)
    cut[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
  if (cut != range.network) return std::nullopt;
  return range;
}

std::string clientNetwork(std::string_view text) {
  std::optional<Address> address = parseAddress(text);
  if (!address) return std::string(text);
  char written[INET6_ADDRSTRLEN] = {};
  if (!address->v6) {
    ::inet_ntop(AF_INET, address->bytes.data(), written, sizeof written);
    return written;
  }
  std::fill(address->bytes.begin() + 8, address->bytes.end(), 0);
  ::inet_ntop(AF_INET6, address->bytes.data(), written, sizeof written);
  return std::string(written) + "/64";
}

std::vector<AddressRange> loopbackRanges() {
  return {*parseAddressRange("127.0.0.0/8"), *parseAddressRange("::1")};
}

}  // namespace zelvor::site
