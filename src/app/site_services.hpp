// The jobs' real services, the same on every system: the site's exchanges
// on port 80, the ping run, the browser, the string table and sleeping.
#pragma once

#include <cstdint>

#include "app/workflow.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

inline constexpr std::uint16_t sitePort = 80;

// Every service but raisePriority, which each system gives in its own way.
// The ping run measures with `runState`, which must outlive the services.
WorkflowServices siteServices(RunState& runState);

}  // namespace zelvor
