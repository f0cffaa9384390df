// What one run of the program shares between its window and its jobs, the
// window itself aside: the settings, the stop event and the ping run's state.
#pragma once

#include "app/settings.hpp"
#include "ping/run_state.hpp"
#include "support/sync.hpp"

namespace zelvor {

struct ProgramState {
  explicit ProgramState(const Settings& loaded)
      : settings(loaded), runState{PingSettings{}, {}, progress, clock, stop} {}
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  Settings settings;
  kelvo::Event stop;
  ProgressCounter progress;
  MsClock clock;
  RunState runState;
};

}  // namespace zelvor
