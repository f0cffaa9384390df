// The reply-line scanners. The number readers follow the C conversions: an
// input item is the longest run that is, or begins, a valid number, and a
// run that only begins one (such as "1e" or "0x") fails the conversion.
#include "net/http_scan.hpp"

#include <limits>

namespace zelvor::http {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Reads `text` from position `at` on.
class Cursor {
 public:
  Cursor(std::string_view text, std::size_t at = 0) : text_(text), at_(at) {}
  std::size_t position() const { return at_; }
  bool atEnd() const { return at_ >= text_.size(); }
  char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }
  void skip(std::size_t count) { at_ += count; }
  void skipSpace() {
    while (!atEnd() && isSpace(text_[at_])) ++at_;
  }
  bool take(char c) {
    if (atEnd() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool takeEither(char a, char b) { return take(a) || take(b); }
  // Takes the case-insensitive `word` or as much of it as matches; true only
  // for the whole word.
  bool takeWord(std::string_view word) {
    for (char c : word) {
      if (atEnd() || lower(text_[at_]) != c) return false;
      ++at_;
    }
    return true;
  }
  template <class Pred>
  std::size_t takeWhile(Pred pred) {
    const std::size_t start = at_;
    while (!atEnd() && pred(text_[at_])) ++at_;
    return at_ - start;
  }
  void takeSign() { takeEither('+', '-'); }

 private:
  std::string_view text_;
  std::size_t at_;
};

// Digits after an exponent mark: at least one, after an optional sign.
bool takeExponentDigits(Cursor& cursor) {
  cursor.takeSign();
  return cursor.takeWhile(isDigit) > 0;
}

// The mantissa and exponent of a hexadecimal number, after "0x".
bool takeHexNumber(Cursor& cursor) {
  std::size_t digits = cursor.takeWhile(isHexDigit);
  if (cursor.take('.')) digits += cursor.takeWhile(isHexDigit);
  if (digits == 0) return false;
  return !cursor.takeEither('p', 'P') || takeExponentDigits(cursor);
}

bool takeDecimalNumber(Cursor& cursor) {
  std::size_t digits = cursor.takeWhile(isDigit);
  if (cursor.take('.')) digits += cursor.takeWhile(isDigit);
  if (digits == 0) return false;
  return !cursor.takeEither('e', 'E') || takeExponentDigits(cursor);
}

// "inf", "infinity", "nan" or "nan(chars)", in any case.
bool takeSpecialNumber(Cursor& cursor) {
  const char first = lower(cursor.peek());
  if (first == 'i') {
    if (!cursor.takeWord("inf")) return false;
    return lower(cursor.peek()) != 'i' || cursor.takeWord("inity");
  }
  if (!cursor.takeWord("nan")) return false;
  if (!cursor.take('(')) return true;
  cursor.takeWhile(
      [](char c) { return isDigit(c) || (lower(c) >= 'a' && lower(c) <= 'z') || c == '_'; });
  return cursor.take(')');
}

// The text after a "name:" at the start of a lower-cased header line.
std::optional<std::string_view> headerValue(std::string_view lowered, std::string_view name) {
  if (lowered.substr(0, name.size()) != name) return std::nullopt;
  return lowered.substr(name.size());
}

}  // namespace

namespace detail {

std::optional<std::pair<std::size_t, std::int32_t>> scanInt(std::string_view text) {
  Cursor cursor(text);
  cursor.skipSpace();
  const bool negative = cursor.peek() == '-';
  cursor.takeSign();
  const std::size_t digitsStart = cursor.position();
  if (cursor.takeWhile(isDigit) == 0) return std::nullopt;
  // Accumulated as a negative number, which reaches the 32-bit minimum.
  std::int64_t value = 0;
  constexpr std::int64_t limit =
      -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min());
  for (std::size_t i = digitsStart; i < cursor.position(); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) return std::nullopt;
  }
  if (!negative && value == limit) return std::nullopt;
  return std::pair{cursor.position(), static_cast<std::int32_t>(negative ? -value : value)};
}

std::optional<std::size_t> scanFloat(std::string_view text) {
  Cursor cursor(text);
  cursor.skipSpace();
  cursor.takeSign();
  const char first = lower(cursor.peek());
  bool valid = false;
  if (first == 'i' || first == 'n') {
    valid = takeSpecialNumber(cursor);
  } else if (first == '0' && lower(cursor.peek(1)) == 'x') {
    cursor.skip(2);
    valid = takeHexNumber(cursor);
  } else {
    valid = takeDecimalNumber(cursor);
  }
  if (!valid) return std::nullopt;
  return cursor.position();
}

}  // namespace detail

std::optional<std::int32_t> scanStatusCode(std::string_view line) {
  constexpr std::string_view prefix = "HTTP/";
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view rest = line.substr(prefix.size());
  const auto version = detail::scanFloat(rest);
  if (!version) return std::nullopt;
  const auto code = detail::scanInt(rest.substr(*version));
  if (!code) return std::nullopt;
  return code->second;
}

std::optional<std::int32_t> scanContentLength(std::string_view lowered) {
  const auto value = headerValue(lowered, "content-length:");
  if (!value) return std::nullopt;
  const auto number = detail::scanInt(*value);
  if (!number) return std::nullopt;
  return number->second;
}

std::optional<bool> scanConnectionClose(std::string_view lowered) {
  const auto value = headerValue(lowered, "connection:");
  if (!value) return std::nullopt;
  Cursor cursor(*value);
  cursor.skipSpace();
  const std::size_t start = cursor.position();
  const std::size_t length = cursor.takeWhile([](char c) { return !isSpace(c); });
  if (length == 0) return std::nullopt;
  return value->substr(start, length) == "close";
}

bool isBlankLine(std::string_view line) { return line.empty() || line == "\n" || line == "\r\n"; }

std::string lowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = lower(c);
  return lowered;
}

}  // namespace zelvor::http
