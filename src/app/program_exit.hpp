// The end of a run, the same in both programs: the loop is over, the jobs get
// a bounded time to notice, then the window goes and the settings are saved,
// and a job still running cannot meet the exit's static destruction.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/program_state.hpp"
#include "app/queued_view.hpp"
#include "support/sync.hpp"

namespace zelvor {

// How long the exit waits for a running job to notice the stop event.
inline constexpr std::uint32_t exitWaitMs = 10000;

// What each platform does at the steps of the end.
struct ExitSteps {
  // The error box of the failure that ended the loop.
  std::function<void(const std::string& failure)> showFailure;
  std::function<void()> hideWindow;
  // Saves the settings with the window's place, and deals with a failure to.
  std::function<void()> saveSettings;
};

// Ends a run whose loop gave `exitCode`, or failed with `failure` (then the
// code is 1), and returns the code; with a job still holding `jobLock` after
// the wait, it ends the process at once with that code instead.
int endRun(QueuedView& view, kelvo::Mutex& jobLock, ProgramState& state, int exitCode,
           const std::optional<std::string>& failure, const ExitSteps& steps);

}  // namespace zelvor
