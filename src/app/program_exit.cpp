#include "app/program_exit.hpp"

#include <cstdio>
#include <cstdlib>

namespace zelvor {

int endRun(QueuedView& view, kelvo::Mutex& jobLock, ProgramState& state, int exitCode,
           const std::optional<std::string>& failure, const ExitSteps& steps) {
  view.endLoop();

  // Never released: a job that only now reaches the lock must not run on
  // into the exit. A failure that ended the loop has not set the stop event,
  // so a running job finishes its step rather than being cut short.
  const bool jobsEnded = jobLock.acquire(exitWaitMs);

  if (failure) {
    steps.showFailure(*failure);
    exitCode = 1;
  }
  state.stop.set();
  steps.hideWindow();
  steps.saveSettings();

  // A job still running could meet the static destructors of the libraries
  // it uses; leave without running any.
  if (!jobsEnded) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  return exitCode;
}

}  // namespace zelvor
