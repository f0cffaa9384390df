// The window's pure rules: which Alt keys act. (The hints are checked on the
// real window, by window_smoke.)
#include <gtest/gtest.h>

#include "app/win32/window_input.hpp"

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

}  // namespace
