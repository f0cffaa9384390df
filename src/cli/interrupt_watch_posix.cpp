// SIGINT (and SIGTERM when asked), blocked in every thread and taken by sigtimedwait on the
// watching thread: no handler runs, so nothing needs to be async-signal-safe.
#include <pthread.h>

#include <csignal>
#include <ctime>

#include "cli/interrupt_watch.hpp"

namespace zelvor::cli {

struct InterruptWatch::State {
  sigset_t interrupt;
  sigset_t before;
};

InterruptWatch::InterruptWatch(bool alsoTerminate) : state_(std::make_unique<State>()) {
  sigemptyset(&state_->interrupt);
  sigaddset(&state_->interrupt, SIGINT);
  if (alsoTerminate) sigaddset(&state_->interrupt, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->interrupt, &state_->before);
}

// A signal still pending ends the process now, as it would have without
// the watch.
InterruptWatch::~InterruptWatch() { pthread_sigmask(SIG_SETMASK, &state_->before, nullptr); }

bool InterruptWatch::wait(std::uint32_t timeoutMs) {
  const timespec timeout{static_cast<time_t>(timeoutMs / 1000),
                         static_cast<long>(timeoutMs % 1000) * 1000000L};
  return sigtimedwait(&state_->interrupt, nullptr, &timeout) > 0;
}

}  // namespace zelvor::cli
