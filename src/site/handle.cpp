#include "site/handle.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int alphabetValue(char c) {
  const char* const found = std::strchr(alphabet, c);
  return c != '\0' && found != nullptr ? static_cast<int>(found - alphabet) : -1;
}

}  // namespace

std::string encodeHandle(const unsigned char (&bits)[16]) {
  std::string text;
  text.reserve(handleLength);
  // Six bits at a time from the front; the last character takes the two
  // bits that are left, followed by four zero bits.
  unsigned buffer = 0;
  int buffered = 0;
  for (const unsigned char byte : bits) {
    buffer = (buffer << 8) | byte;
    buffered += 8;
    while (buffered >= 6) {
      buffered -= 6;
      text += alphabet[(buffer >> buffered) & 0x3F];
    }
  }
  text += alphabet[(buffer << (6 - buffered)) & 0x3F];
  return text;
}

bool isHandleShape(std::string_view text) {
  if (text.size() != handleLength) return false;
  for (const char c : text)
    if (alphabetValue(c) < 0) return false;
  return (alphabetValue(text.back()) & 0x0F) == 0;
}

std::string randomHandle() {
  unsigned char bits[16];
  std::size_t filled = 0;
  while (filled < sizeof bits) {
    // Blocks only until the kernel's pool is first seeded, at boot.
    const ssize_t got = ::getrandom(bits + filled, sizeof bits - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw kelvo::Failure(std::string("The system's random source failed: ") +
                           std::strerror(errno));
    }
    filled += static_cast<std::size_t>(got);
  }
  return encodeHandle(bits);
}

}  // namespace zelvor::site
