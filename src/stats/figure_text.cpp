#include "stats/figure_text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace zelvor::stats {

std::string formatWhole(std::int64_t value) {
  std::string text;
  appendWhole(text, value);
  return text;
}

void appendWhole(std::string& out, std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

std::string formatOneDecimal(double value) {
  std::string text;
  appendOneDecimal(text, value);
  return text;
}

void appendOneDecimal(std::string& out, double value) {
  // The general conversion below costs some 550 instructions a number.
  // Where the tenths are plain from value * 10 (finite, not huge, not
  // within a hair of a half), they are rounded here to what the conversion
  // would give.
  if (std::isfinite(value) && std::fabs(value) < 1e8) {
    const double scaled = std::fabs(value) * 10;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) > 1e-6) {
      const auto tenths = static_cast<std::int64_t>(whole) + (fraction > 0.5 ? 1 : 0);
      if (value < 0 && tenths != 0) out += '-';
      appendWhole(out, tenths / 10);
      out += '.';
      out += static_cast<char>('0' + tenths % 10);
      return;
    }
  }
  char buffer[400];  // room for any double in fixed notation
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  // A small negative value rounds to "-0.0", which reads as a different figure.
  out += text == "-0.0" ? text.substr(1) : text;
}

}  // namespace zelvor::stats
