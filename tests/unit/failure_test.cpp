// Failure: the ways its text is made, and that it reads as that text.
#include "support/failure.hpp"

#include <gtest/gtest.h>

#include <string>

#include "last_error.hpp"

namespace {

struct CodeCase {
  std::int32_t code;
  const char* text;
};

class FailureOfCode : public testing::TestWithParam<CodeCase> {};

TEST_P(FailureOfCode, WritesTheCodeInSignedDecimal) {
  EXPECT_EQ(kelvo::Failure::ofCode(GetParam().code), std::string(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Codes, FailureOfCode,
                         testing::Values(CodeCase{8, "Windows error 8"},
                                         CodeCase{0, "Windows error 0"},
                                         CodeCase{-2147024891, "Windows error -2147024891"},
                                         CodeCase{2147483647, "Windows error 2147483647"}));

TEST(Failure, LastErrorReadsTheLastErrorOfTheCallingThread) {
  zelvor::test::setLastErrorCode(13);
  EXPECT_EQ(kelvo::Failure::lastError(), std::string("Windows error 13"));
  zelvor::test::setLastErrorCode(1450);
  EXPECT_EQ(kelvo::Failure::lastError(), std::string("Windows error 1450"));
}

TEST(Failure, FromReadyTextKeepsItUnchanged) {
  EXPECT_EQ(kelvo::Failure(std::string("Thread allready running")),
            std::string("Thread allready running"));
  EXPECT_EQ(kelvo::Failure(std::string()), std::string());
}

TEST(Failure, IsCaughtAsFailureAndReadsAsItsText) {
  try {
    throw kelvo::Failure::ofCode(5);
  } catch (const kelvo::Failure& text) {
    EXPECT_EQ(text, "Windows error 5");
    return;
  }
  FAIL() << "not caught as a Failure";
}

}  // namespace
