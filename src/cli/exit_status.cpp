#include "cli/exit_status.hpp"

#include <algorithm>

#include "catalogue/failure_texts.hpp"

namespace zelvor::cli {

ExitCode exitCodeOf(const Outcome& outcome) {
  if (outcome.interrupted) return ExitCode::interrupted;
  if (outcome.badArguments) return ExitCode::badArguments;
  if (outcome.failed) return ExitCode::failed;
  if (outcome.someUnresolved) return ExitCode::someUnresolved;
  if (outcome.someSilent) return ExitCode::someSilent;
  return ExitCode::allAnswered;
}

void judgeHosts(std::span<const ServerEntry> servers, Outcome& outcome) {
  for (const ServerEntry& server : servers) {
    // A stopped run leaves hosts it never reached without samples; they
    // neither answered nor stayed silent.
    if (server.samples.empty()) continue;
    const auto failedWith = [](const char* text) {
      return [text](const EchoSample& sample) { return sample.failure == text; };
    };
    if (std::any_of(server.samples.begin(), server.samples.end(),
                    failedWith(failure::badAddress))) {
      outcome.someUnresolved = true;
    } else if (std::all_of(server.samples.begin(), server.samples.end(),
                           [](const EchoSample& sample) { return sample.failure != nullptr; })) {
      outcome.someSilent = true;
    }
  }
}

}  // namespace zelvor::cli
