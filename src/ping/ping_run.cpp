#include "ping/ping_run.hpp"

namespace zelvor {

EchoPlatforms systemEchoPlatforms() {
  return {RawEchoEngine::systemPlatform(), DllEchoEngine::systemPlatform()};
}

PingEnd runPing(RunState& state, std::vector<ServerEntry>& servers, const PingSettings& settings,
                const EchoPlatforms& platforms) {
  state.settings = settings;
  state.success.clear();
  PingEnd end;

  if (settings.airborne > 0) {
    if (state.stop.isSet()) return end;
    try {
      RawEchoEngine(state, platforms.raw).run(servers, settings.airborne);
    } catch (const kelvo::Failure& failure) {
      // The raw engine is an optimisation: whatever stopped it, the
      // echo-service engine may still measure.
      end.rawFailure = failure;
    }
    if (state.success.isSet()) return end;
  }

  if (settings.threads > 0) {
    if (state.stop.isSet()) return end;
    try {
      DllEchoEngine(state, platforms.dll).run(servers, settings.threads);
    } catch (const kelvo::Failure& failure) {
      end.failure = failure;
      return end;
    }
  }

  if (!state.success.isSet()) end.failure = kelvo::Failure(pingNeverSucceededText);
  return end;
}

}  // namespace zelvor
