// The reading operations of a byte stream that arrives in receives: by byte,
// by chunk, by exact length and by line. A socket is one such stream; bytes
// in memory are another, which is how replies are parsed in tests and fuzzing.
#pragma once

#include <cstddef>
#include <vector>

namespace kelvo {

// Small reads are served from a read-ahead buffer filled by one receive, so
// reading a header byte by byte costs one system call per buffer, not two
// per byte. Every byte is still handed out once, in order; large reads go
// straight into the caller's buffer once the read-ahead is used up.
class ByteReader {
 public:
  virtual ~ByteReader() = default;

  // The next byte (0 to 255), or -1 when the stream has ended or nothing came
  // in time.
  int readByte();
  // At most `size` bytes from one receive (or from the read-ahead); 0 when
  // the stream has ended or nothing came in time.
  int readSome(char* buffer, int size);
  // Receives until `size` bytes have come or a receive yields nothing, and
  // returns how many came. Fewer than asked is not an error.
  int readExact(char* buffer, int size);
  // One line, line feed included, of at most size - 1 bytes, NUL-terminated;
  // returns the number of bytes stored. A longer line comes in pieces.
  int readLine(char* buffer, int size);

 protected:
  // One receive of at most `size` bytes (size > 0): the count, or 0 when the
  // stream has ended or nothing came in time. Throws on failure.
  virtual int receive(char* buffer, int size) = 0;

 private:
  static constexpr int readAheadSize = 4096;

  // Refills the read-ahead with one receive; false when it yielded nothing.
  bool fillAhead();
  std::size_t aheadCount() const noexcept { return aheadEnd_ - aheadStart_; }

  std::vector<char> ahead_;
  std::size_t aheadStart_ = 0;
  std::size_t aheadEnd_ = 0;
};

}  // namespace kelvo
