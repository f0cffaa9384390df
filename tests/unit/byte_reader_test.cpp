// ByteReader's operations over scripted receives: lines, exact lengths and
// the end of the stream.
#include <gtest/gtest.h>

#include <string>

#include "memory_reader.hpp"

namespace {

using zelvor::test::MemoryReader;

// What successive readLine calls of one size store.
std::vector<std::string> lines(MemoryReader& reader, int size, int calls) {
  std::vector<std::string> stored;
  std::string buffer(static_cast<std::size_t>(size) + 1, 'X');
  for (int i = 0; i < calls; ++i) {
    const int count = reader.readLine(buffer.data(), size);
    EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '\0');
    stored.emplace_back(buffer.data(), static_cast<std::size_t>(count));
  }
  return stored;
}

TEST(ReadLine, KeepsTheLineEndAndReturnsNothingAtTheEnd) {
  MemoryReader reader("HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(lines(reader, 128, 2), (std::vector<std::string>{"HTTP/1.0 200 OK\r\n", ""}));
}

TEST(ReadLine, LongLineComesInPiecesOfSizeMinusOne) {
  MemoryReader reader(std::string(300, 'a') + "\n");
  EXPECT_EQ(lines(reader, 256, 3),
            (std::vector<std::string>{std::string(255, 'a'), std::string(45, 'a') + "\n", ""}));
}

TEST(ReadLine, SizeOneStoresNothingAndReadsNothing) {
  MemoryReader reader("abc\n");
  EXPECT_EQ(lines(reader, 1, 2), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(reader.consumed(), 0u);
}

TEST(ReadLine, StoresEveryByteValueAndStopsAfterTheLineFeed) {
  const std::string line("a\xff\x01\r\x80z\n", 7);
  MemoryReader reader({line + "next\n"});
  EXPECT_EQ(lines(reader, 128, 2), (std::vector<std::string>{line, "next\n"}));
}

TEST(ReadLine, LineSplitAcrossReceivesIsJoined) {
  MemoryReader reader(std::vector<std::string>{"ab", "c\r", "\nd"});
  EXPECT_EQ(lines(reader, 128, 3), (std::vector<std::string>{"abc\r\n", "d", ""}));
}

TEST(ReadByte, GivesUnsignedValuesThenMinusOne) {
  MemoryReader reader(std::string("\x00\xff\x7f", 3));
  EXPECT_EQ(reader.readByte(), 0);
  EXPECT_EQ(reader.readByte(), 255);
  EXPECT_EQ(reader.readByte(), 127);
  EXPECT_EQ(reader.readByte(), -1);
  EXPECT_EQ(reader.readByte(), -1);
}

TEST(ReadExact, CollectsAcrossReceivesUpToTheSize) {
  MemoryReader reader(std::vector<std::string>{"abc", "de", "fgh"});
  char buffer[6];
  EXPECT_EQ(reader.readExact(buffer, 6), 6);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(reader.readExact(buffer, 6), 2);
  EXPECT_EQ(std::string(buffer, 2), "gh");
}

TEST(ReadExact, ZeroBytesReturnsAtOnceWithoutReceiving) {
  MemoryReader reader("abc");
  char buffer[1];
  EXPECT_EQ(reader.readExact(buffer, 0), 0);
  EXPECT_EQ(reader.receives(), 0);
}

TEST(ReadSome, TakesOneReceiveAtMost) {
  MemoryReader reader(std::vector<std::string>{"abc", "def"});
  char buffer[8];
  EXPECT_EQ(reader.readSome(buffer, 8), 3);
  EXPECT_EQ(reader.readSome(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "de");
  EXPECT_EQ(reader.readSome(buffer, 8), 1);
  EXPECT_EQ(reader.readSome(buffer, 8), 0);
}

TEST(ReadAhead, SmallAndLargeReadsShareOneOrderedStream) {
  std::string data;
  for (int i = 0; i < 12000; ++i) data += static_cast<char>(i * 7 % 251);
  MemoryReader reader(std::vector<std::string>{"head\n" + data.substr(0, 5000), data.substr(5000)});
  char line[16];
  ASSERT_EQ(reader.readLine(line, sizeof line), 5);
  EXPECT_STREQ(line, "head\n");
  std::string got(data.size() + 10, '\0');
  EXPECT_EQ(reader.readExact(got.data(), static_cast<int>(got.size())), 12000);
  got.resize(12000);
  EXPECT_EQ(got, data);
  EXPECT_EQ(reader.consumed(), 5u + 12000u);
}

}  // namespace
