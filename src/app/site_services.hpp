// The jobs' real services, the same on every system: the site's exchanges,
// the ping run, the browser, the string table and sleeping.
#pragma once

#include "app/workflow.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// Every service but raisePriority, which each system gives in its own way.
// The ping run measures with `runState`, which must outlive the services.
WorkflowServices siteServices(RunState& runState);

}  // namespace zelvor
