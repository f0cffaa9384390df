// What the benchmark programs read from their command lines.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelvor::bench {

// A whole decimal number and nothing else: no sign, no blanks, no suffix.
inline std::optional<std::uint32_t> parseNumber(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace zelvor::bench
