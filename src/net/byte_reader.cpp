#include "net/byte_reader.hpp"

#include <algorithm>
#include <cstring>

namespace kelvo {

bool ByteReader::fillAhead() {
  ahead_.resize(readAheadSize);
  aheadStart_ = 0;
  aheadEnd_ = static_cast<std::size_t>(receive(ahead_.data(), readAheadSize));
  return aheadEnd_ > 0;
}

int ByteReader::readByte() {
  if (aheadCount() == 0 && !fillAhead()) return -1;
  return static_cast<unsigned char>(ahead_[aheadStart_++]);
}

int ByteReader::readSome(char* buffer, int size) {
  if (size <= 0) return 0;
  if (aheadCount() == 0) {
    if (size >= readAheadSize) return receive(buffer, size);
    if (!fillAhead()) return 0;
  }
  const std::size_t count = std::min(aheadCount(), static_cast<std::size_t>(size));
  std::memcpy(buffer, ahead_.data() + aheadStart_, count);
  aheadStart_ += count;
  return static_cast<int>(count);
}

int ByteReader::readExact(char* buffer, int size) {
  int total = 0;
  while (total < size) {
    const int count = readSome(buffer + total, size - total);
    if (count == 0) break;
    total += count;
  }
  return total;
}

int ByteReader::readLine(char* buffer, int size) {
  if (size <= 0) return 0;
  int stored = 0;
  while (stored < size - 1) {
    const int byte = readByte();
    if (byte < 0) break;
    buffer[stored++] = static_cast<char>(byte);
    if (byte == '\n') break;
  }
  buffer[stored] = '\0';
  return stored;
}

}  // namespace kelvo
