// ByteReader's operations, all made of single receives.
#include "net/byte_reader.hpp"

namespace kelvo {

int ByteReader::readByte() {
  char byte = 0;
  if (receive(&byte, 1) == 0) return -1;
  return static_cast<unsigned char>(byte);
}

int ByteReader::readSome(char* buffer, int size) {
  if (size <= 0) return 0;
  return receive(buffer, size);
}

int ByteReader::readExact(char* buffer, int size) {
  int total = 0;
  while (total < size) {
    const int count = receive(buffer + total, size - total);
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
