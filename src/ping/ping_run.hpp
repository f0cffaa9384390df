// The entry point of measuring: the raw-socket engine first, the
// echo-service engine as its fallback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ping/dll_echo_engine.hpp"
#include "ping/raw_echo_engine.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// The failure of a run in which no echo succeeded.
inline constexpr const char* pingNeverSucceededText = "Ping never succeeded";

// What both engines need of the system.
struct EchoPlatforms {
  RawEchoEngine::Platform raw;
  DllEchoEngine::Platform dll;
};
EchoPlatforms systemEchoPlatforms();

// Measures `servers` with `loops` echoes each and an echo time-out of
// `timeoutMs`: with the raw-socket engine keeping `airborne` requests in
// flight (0 disables it), and, when that engine cannot start or records no
// success, with the echo-service engine on `threads` workers (0 disables it).
// Returns at once, without failing, when the stop event is signalled before
// an engine would start. Throws pingNeverSucceededText when no echo
// succeeded, and the echo-service engine's own failure text. With
// `rawFailure`, the raw-socket engine's failure text is put there when it
// failed, so that a caller can say why neither engine could measure.
void runPing(RunState& state, std::vector<ServerEntry>& servers, std::uint32_t loops,
             std::uint32_t timeoutMs, std::uint32_t airborne, std::uint32_t threads,
             const EchoPlatforms& platforms, std::string* rawFailure = nullptr);

}  // namespace zelvor
