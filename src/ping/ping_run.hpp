// The entry point of measuring: the raw-socket engine first, the
// echo-service engine as its fallback.
#pragma once

#include <optional>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ping/dll_echo_engine.hpp"
#include "ping/raw_echo_engine.hpp"
#include "ping/run_state.hpp"
#include "support/failure.hpp"

namespace zelvor {

// The failure of a run in which no echo succeeded.
inline constexpr const char* pingNeverSucceededText = "Ping never succeeded";

// What both engines need of the system.
struct EchoPlatforms {
  RawEchoEngine::Platform raw;
  DllEchoEngine::Platform dll;
};
EchoPlatforms systemEchoPlatforms();

// How a run ended.
struct PingEnd {
  // Why nothing was measured: the echo-service engine's failure, or
  // pingNeverSucceededText when no echo succeeded. Empty when an echo
  // succeeded or the stop event was signalled before an engine would start.
  std::optional<kelvo::Failure> failure;
  // The raw-socket engine's failure when it failed, so that a caller can say
  // why neither engine could measure.
  std::optional<kelvo::Failure> rawFailure;
};

// Measures `servers` as `settings` say: with the raw-socket engine (unless
// settings.airborne is 0), and, when that engine cannot start or records no
// success, with the echo-service engine (unless settings.threads is 0).
// Returns at once when the stop event is signalled before an engine would
// start.
[[nodiscard]] PingEnd runPing(RunState& state, std::vector<ServerEntry>& servers,
                              const PingSettings& settings, const EchoPlatforms& platforms);

}  // namespace zelvor
