// The window's pure rules: which Alt keys act, and the text shown for
// whatever a failure threw. (The hints are checked on the real window, by
// window_smoke.)
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "app/win32/failure_text.hpp"
#include "app/win32/window_input.hpp"
#include "support/error.hpp"

namespace {

using zelvor::Command;

TEST(SysCharTest, OnlyGAndXInEitherCaseAct) {
  EXPECT_EQ(zelvor::sysCharCommand('G'), Command::go);
  EXPECT_EQ(zelvor::sysCharCommand('g'), Command::go);
  EXPECT_EQ(zelvor::sysCharCommand('X'), Command::exit);
  EXPECT_EQ(zelvor::sysCharCommand('x'), Command::exit);
  // Space would open the system menu; the others are neighbours and the
  // same letters beyond the 8-bit range.
  for (const WPARAM other : {WPARAM{' '}, WPARAM{'f'}, WPARAM{'h'}, WPARAM{'w'}, WPARAM{'y'},
                             WPARAM{0}, WPARAM{'G' + 0x100}, WPARAM{'x' + 0x10000}}) {
    EXPECT_EQ(zelvor::sysCharCommand(other), Command::none) << other;
  }
}

std::string textOf(const std::function<void()>& thrower) {
  try {
    thrower();
  } catch (...) {
    return zelvor::currentFailureText();
  }
  return "nothing thrown";
}

TEST(FailureTextTest, TextsAreShownAsThrownAndEverythingElseIsUnknown) {
  EXPECT_EQ(textOf([] { throw std::string("Ping never succeeded"); }), "Ping never succeeded");
  EXPECT_EQ(textOf([] { throw kelvo::WinError(1812); }), "Windows error 1812");
  EXPECT_EQ(textOf([] { throw "Error Initializing status-window"; }),
            "Error Initializing status-window");
  EXPECT_EQ(textOf([] { throw static_cast<const char*>(nullptr); }), "Unknown error");
  EXPECT_EQ(textOf([] { throw 1813u; }), "Unknown error");
  EXPECT_EQ(textOf([] { throw std::runtime_error("not a text"); }), "Unknown error");
}

}  // namespace
