// The reply-line scanners: which status lines, lengths and connection words
// are read, and which are not.
#include "net/http_scan.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zelvor::http::scanConnectionClose;
using zelvor::http::scanContentLength;
using zelvor::http::scanStatusCode;

struct StatusCase {
  const char* line;
  std::optional<std::int32_t> code;
};

class StatusLine : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusLine, ReadsTheCodeAfterAnyVersionNumber) {
  EXPECT_EQ(scanStatusCode(GetParam().line), GetParam().code) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StatusLine,
    testing::Values(StatusCase{"HTTP/1.0 200 OK\r\n", 200}, StatusCase{"HTTP/1.1 200 OK\r\n", 200},
                    StatusCase{"HTTP/1.0 404 Not Found\r\n", 404},
                    StatusCase{"HTTP/1.0 200", 200},        // no line end
                    StatusCase{"HTTP/ 1 \t 200\r\n", 200},  // white space before numbers
                    StatusCase{"HTTP/2 -7\r\n", -7},        // signed code
                    StatusCase{"HTTP/1e3 200\r\n", 200},    // exponent
                    StatusCase{"HTTP/.5 200\r\n", 200},
                    StatusCase{"HTTP/0x1p4 200\r\n", 200},  // hexadecimal version
                    StatusCase{"HTTP/inf 200\r\n", 200}, StatusCase{"HTTP/nan(x1) 200\r\n", 200},
                    StatusCase{"HTTP/1.0 2147483647\r\n", 2147483647},
                    StatusCase{"HTTP/1.0 -2147483648\r\n", -2147483647 - 1},
                    StatusCase{"HTTP/1.0 2147483648\r\n", std::nullopt},  // beyond 32 bits
                    StatusCase{"http/1.0 200 OK\r\n", std::nullopt},      // lower case
                    StatusCase{" HTTP/1.0 200 OK\r\n", std::nullopt},     // not at the start
                    StatusCase{"HTTP/1.0 OK\r\n", std::nullopt},          // no code
                    StatusCase{"HTTP/x 200\r\n", std::nullopt},           // no version
                    StatusCase{"HTTP/1e 200\r\n", std::nullopt},          // half an exponent
                    StatusCase{"HTTP/0x 200\r\n", std::nullopt},          // half a hex number
                    StatusCase{"HTTP/infin 200\r\n", std::nullopt},       // half of infinity
                    StatusCase{"HTTP/. 200\r\n", std::nullopt},
                    StatusCase{"HTTP/1.0 +\r\n", std::nullopt}, StatusCase{"", std::nullopt}));

TEST(StatusLine, VersionDigitsRunIntoTheCodeWithoutABlank) {
  // "1.0200" is all version, so no code follows.
  EXPECT_EQ(scanStatusCode("HTTP/1.0200 OK"), std::nullopt);
}

struct HeaderCase {
  const char* lowered;
  std::optional<std::int32_t> length;
  std::optional<bool> close;
};

class HeaderLine : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderLine, ReadsOnlyLengthAndConnectionLines) {
  EXPECT_EQ(scanContentLength(GetParam().lowered), GetParam().length) << GetParam().lowered;
  EXPECT_EQ(scanConnectionClose(GetParam().lowered), GetParam().close) << GetParam().lowered;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderLine,
    testing::Values(HeaderCase{"content-length: 3\r\n", 3, std::nullopt},
                    HeaderCase{"content-length:3", 3, std::nullopt},
                    HeaderCase{"content-length: \t+12abc\r\n", 12, std::nullopt},
                    HeaderCase{"content-length: -5\r\n", -5, std::nullopt},
                    HeaderCase{"content-length: 0\r\n", 0, std::nullopt},
                    HeaderCase{"content-length: 99999999999\r\n", std::nullopt, std::nullopt},
                    HeaderCase{"content-length: abc\r\n", std::nullopt, std::nullopt},
                    HeaderCase{"content-length : 3\r\n", std::nullopt, std::nullopt},
                    HeaderCase{"x-content-length: 3\r\n", std::nullopt, std::nullopt},
                    HeaderCase{"connection: close\r\n", std::nullopt, true},
                    HeaderCase{"connection:close", std::nullopt, true},
                    HeaderCase{"connection: keep-alive\r\n", std::nullopt, false},
                    HeaderCase{"connection: closed\r\n", std::nullopt, false},
                    HeaderCase{"connection: close, te\r\n", std::nullopt, false},
                    HeaderCase{"connection: \r\n", std::nullopt, std::nullopt},
                    HeaderCase{"connection:", std::nullopt, std::nullopt},
                    HeaderCase{"host: h\r\n", std::nullopt, std::nullopt}));

TEST(HeaderLine, LowerAsciiChangesOnlyCapitals) {
  EXPECT_EQ(zelvor::http::lowerAscii("Content-LENGTH: 5\xc4\r\n"), "content-length: 5\xc4\r\n");
}

TEST(HeaderLine, BlankLinesEndTheHeader) {
  EXPECT_TRUE(zelvor::http::isBlankLine(""));
  EXPECT_TRUE(zelvor::http::isBlankLine("\n"));
  EXPECT_TRUE(zelvor::http::isBlankLine("\r\n"));
  EXPECT_FALSE(zelvor::http::isBlankLine("\r"));
  EXPECT_FALSE(zelvor::http::isBlankLine(" \r\n"));
}

}  // namespace
