// runPing's choice between the engines.
#include "ping/ping_run.hpp"

#include <string>

#include "support/failure.hpp"

namespace zelvor {

EchoPlatforms systemEchoPlatforms() {
  return {RawEchoEngine::systemPlatform(), DllEchoEngine::systemPlatform()};
}

void runPing(RunState& state, std::vector<ServerEntry>& servers, std::uint32_t loops,
             std::uint32_t timeoutMs, std::uint32_t airborne, std::uint32_t threads,
             const EchoPlatforms& platforms, std::string* rawFailure) {
  state.settings = RunSettings{loops, timeoutMs};
  state.success.clear();

  if (airborne > 0) {
    if (state.stop.isSet()) return;
    try {
      RawEchoEngine(state, platforms.raw).run(servers, airborne);
    } catch (const kelvo::Failure& failure) {
      // The raw engine is an optimisation: whatever stopped it, the
      // echo-service engine may still measure.
      if (rawFailure) *rawFailure = failure;
    }
    if (state.success.isSet()) return;
  }

  if (threads > 0) {
    if (state.stop.isSet()) return;
    try {
      DllEchoEngine(state, platforms.dll).run(servers, threads);
    } catch (const kelvo::Failure& failure) {
      throw kelvo::Failure(failure);
    }
  }

  if (!state.success.isSet()) throw kelvo::Failure(pingNeverSucceededText);
}

}  // namespace zelvor
