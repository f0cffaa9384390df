// Log lines on stderr, each written whole with one call so that lines of
// concurrent workers never interleave.
#include "site/request_log.hpp"

#include <cstdio>

#include "site/wall_clock.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

void appendPrintable(std::string& line, std::string_view text) {
  constexpr char hex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && byte != '%') {
      line += c;
    } else {
      line += '%';
      line += hex[byte >> 4];
      line += hex[byte & 0x0F];
    }
  }
}

void write(std::string line) {
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string requestPrefix(std::int64_t unixMs, std::string_view method, std::string_view path) {
  std::string line = kelvo::isoUtcTimeMs(unixMs);
  line += ' ';
  appendPrintable(line, method);
  line += ' ';
  appendPrintable(line, path);
  return line;
}

}  // namespace

std::string requestLine(std::int64_t unixMs, std::string_view method, std::string_view path,
                        int status, std::size_t bytes, std::chrono::microseconds took) {
  std::string line = requestPrefix(unixMs, method, path);
  line += ' ' + std::to_string(status) + ' ' + std::to_string(bytes) + ' ';
  // Tenths of a millisecond, rounded, without going through a locale.
  const auto tenths = (took.count() + 50) / 100;
  line += std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10) + "ms";
  return line;
}

void logRequest(const Request& request, const Reply& reply, std::chrono::microseconds took) {
  write(requestLine(unixNowMs(), request.method, request.path, reply.status, reply.body.size(),
                    took));
}

void logFailure(const Request& request, std::string_view text) {
  std::string line = requestPrefix(unixNowMs(), request.method, request.path);
  line += " failed: ";
  line += text;
  write(std::move(line));
}

void logLine(std::string_view text) {
  std::string line = kelvo::isoUtcTimeMs(unixNowMs());
  line += ' ';
  line += text;
  write(std::move(line));
}

}  // namespace zelvor::site
