// WinError: the three ways its text is made, and the catch-by-string rule.
#include "support/error.hpp"

#include <gtest/gtest.h>

#include <string>

#include "last_error.hpp"

namespace {

struct CodeCase {
  std::int32_t code;
  const char* text;
};

class WinErrorFromCode : public testing::TestWithParam<CodeCase> {};

TEST_P(WinErrorFromCode, WritesTheCodeInSignedDecimal) {
  EXPECT_EQ(kelvo::WinError(GetParam().code), std::string(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Codes, WinErrorFromCode,
                         testing::Values(CodeCase{8, "Windows error 8"},
                                         CodeCase{0, "Windows error 0"},
                                         CodeCase{-2147024891, "Windows error -2147024891"},
                                         CodeCase{2147483647, "Windows error 2147483647"}));

TEST(WinError, WithoutArgumentReadsTheLastErrorOfTheCallingThread) {
  zelvor::test::setLastErrorCode(13);
  EXPECT_EQ(kelvo::WinError(), std::string("Windows error 13"));
  zelvor::test::setLastErrorCode(1450);
  EXPECT_EQ(kelvo::WinError(), std::string("Windows error 1450"));
}

TEST(WinError, FromReadyTextKeepsItUnchanged) {
  EXPECT_EQ(kelvo::WinError(std::string("Thread allready running")),
            std::string("Thread allready running"));
  EXPECT_EQ(kelvo::WinError(std::string()), std::string());
}

TEST(WinError, IsCaughtAsTheStandardStringType) {
  try {
    throw kelvo::WinError(5);
  } catch (const std::string& text) {
    EXPECT_EQ(text, "Windows error 5");
    return;
  }
  FAIL() << "not caught as a string";
}

}  // namespace
