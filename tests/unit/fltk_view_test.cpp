// How the FLTK window's loop ends: the window's own quit, the stop event and
// a job's quit, in every combination.
#include "app/fltk/fltk_view.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace {

using zelvor::FltkView;
using Quit = zelvor::MainWindow::Quit;
using By = Quit::By;

TEST(FltkViewTest, TheWindowsQuitWinsThenTheStopEventThenAJobsQuit) {
  struct Case {
    std::optional<Quit> quit;
    bool stopSet;
    std::optional<int> exitCode;
  };
  const Case cases[] = {
      {std::nullopt, false, std::nullopt}, {std::nullopt, true, 0},
      {Quit{By::window, 1}, false, 1},     {Quit{By::window, 1}, true, 1},
      {Quit{By::job, 3}, false, 3},        {Quit{By::job, 3}, true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FltkView::loopExitCode(c.quit, c.stopSet), c.exitCode)
        << "quit " << (c.quit ? c.quit->exitCode : -1) << ", stop " << c.stopSet;
  }
}

}  // namespace
