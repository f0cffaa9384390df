// A ByteReader over bytes in memory, handed out in scripted receives, so
// that reply parsing is tested and fuzzed without a network.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "net/byte_reader.hpp"

namespace zelvor::test {

class MemoryReader : public kelvo::ByteReader {
 public:
  // Each piece is what the peer sent in one go: a receive never spans two
  // pieces, as it may not span two segments of a real stream.
  explicit MemoryReader(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
  explicit MemoryReader(std::string bytes) : pieces_{std::move(bytes)} {}

  // How many receives have been asked for, the ones at the end included.
  int receives() const { return receives_; }
  // How many bytes have been handed out.
  std::size_t consumed() const { return consumed_; }

 protected:
  int receive(char* buffer, int size) override {
    ++receives_;
    while (piece_ < pieces_.size() && offset_ == pieces_[piece_].size()) {
      ++piece_;
      offset_ = 0;
    }
    if (piece_ == pieces_.size()) return 0;
    const std::string& piece = pieces_[piece_];
    const std::size_t count = std::min(piece.size() - offset_, static_cast<std::size_t>(size));
    std::memcpy(buffer, piece.data() + offset_, count);
    offset_ += count;
    consumed_ += count;
    return static_cast<int>(count);
  }

 private:
  std::vector<std::string> pieces_;
  std::size_t piece_ = 0;
  std::size_t offset_ = 0;
  std::size_t consumed_ = 0;
  int receives_ = 0;
};

}  // namespace zelvor::test
