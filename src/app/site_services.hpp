// The jobs' real services, the same on every system: the site's exchanges,
// the ping run, the browser, the string table and sleeping.
#pragma once

#include <cstddef>

#include "app/workflow.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// The longest replies taken from the site. A list of 16 MiB names hundreds
// of thousands of servers, far more than one test could measure, and a
// handle is a short token: anything longer is refused, not held in memory.
inline constexpr std::size_t maxListReplyBytes = 16 * 1024 * 1024;
inline constexpr std::size_t maxHandleReplyBytes = 4 * 1024;

// Every service but raisePriority, which each system gives in its own way.
// The ping run measures with `runState`, which must outlive the services.
WorkflowServices siteServices(RunState& runState);

}  // namespace zelvor
