// What zelvor-cli's exit code says, and how a run's outcome becomes one.
#pragma once

#include <span>

#include "catalogue/catalogue.hpp"

namespace zelvor::cli {

// A script can tell a quiet host from a name that
// does not resolve from a broken setup without reading any text.
enum class ExitCode : int {
  allAnswered = 0,
  someSilent = 1,
  someUnresolved = 2,
  badArguments = 3,
  failed = 4,
  interrupted = 130,
};

// What a command found, in the order of precedence: an interruption hides
// everything else, a refused command line comes before any measuring, and a
// failure of the measuring or the site hides what the hosts did, because the
// user must act on it first.
struct Outcome {
  bool interrupted = false;
  bool badArguments = false;
  bool failed = false;
  bool someUnresolved = false;
  bool someSilent = false;
};

ExitCode exitCodeOf(const Outcome& outcome);

// Adds to `outcome` what the samples of `servers` say: a host whose name did
// not resolve, a host of which no echo came back.
void judgeHosts(std::span<const ServerEntry> servers, Outcome& outcome);

}  // namespace zelvor::cli
