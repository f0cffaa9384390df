// Result handles: the unguessable names under which runs are stored and
// their results pages are found.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvor::site {

// 128 bits in URL-safe base64 without padding: 21 characters of six bits
// and a last one that carries two bits and four zero bits.
inline constexpr std::size_t handleLength = 22;

// 128 bits from the system's random source. Throws a Failure when the source
// fails; never falls back on anything guessable.
std::string randomHandle();

// The handle's text for exactly these 16 bytes.
std::string encodeHandle(const unsigned char (&bits)[16]);

// True only for text that encodeHandle can have written.
bool isHandleShape(std::string_view text);

}  // namespace zelvor::site
