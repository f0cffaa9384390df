// The text the user is shown for whatever a failure threw.
#include "app/failure_text.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "support/failure.hpp"

namespace {

std::string textOf(const std::function<void()>& thrower) {
  try {
    thrower();
  } catch (...) {
    return zelvor::currentFailureText();
  }
  return "nothing thrown";
}

TEST(FailureTextTest, FailuresAreShownAsThrownAndEverythingElseIsUnknown) {
  EXPECT_EQ(textOf([] { throw kelvo::Failure("Ping never succeeded"); }), "Ping never succeeded");
  EXPECT_EQ(textOf([] { throw kelvo::Failure::ofCode(1812); }), "Windows error 1812");
  EXPECT_EQ(textOf([] { throw kelvo::Failure("Error Initializing status-window"); }),
            "Error Initializing status-window");
  EXPECT_EQ(textOf([] { throw "Error Initializing status-window"; }), "Unknown error");
  EXPECT_EQ(textOf([] { throw std::string("a bare text"); }), "Unknown error");
  EXPECT_EQ(textOf([] { throw static_cast<const char*>(nullptr); }), "Unknown error");
  EXPECT_EQ(textOf([] { throw 1813u; }), "Unknown error");
  EXPECT_EQ(textOf([] { throw std::runtime_error("not a text"); }), "Unknown error");
  EXPECT_EQ(textOf([] { throw std::bad_alloc(); }), "Unknown error");
}

}  // namespace
