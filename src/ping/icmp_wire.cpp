#include "ping/icmp_wire.hpp"

namespace zelvor {

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  const std::size_t words = bytes.size() / 2;
  for (std::size_t i = 0; i < words; ++i) sum += icmp::readLittle16(bytes, 2 * i);
  if (bytes.size() % 2 != 0) sum += bytes.back();
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

namespace icmp {

void fillChecksum(std::span<std::uint8_t> message) {
  writeLittle16(message, checksumAt, 0);
  writeLittle16(message, checksumAt, internetChecksum(message));
}

}  // namespace icmp

}  // namespace zelvor
