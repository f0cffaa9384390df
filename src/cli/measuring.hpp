// One measuring run of zelvor-cli: runPing on the calling thread, with a
// watching thread that stops it on Ctrl-C (or notes the signal, for a
// scheduled run) and draws the progress line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "cli/interrupt_watch.hpp"
#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

struct MeasuringEnd {
  // Ctrl-C stopped the run; the samples are what was taken until then.
  bool interrupted = false;
  // Nothing could be measured: why, in words the user can act on.
  std::optional<std::string> failure;
  // Every echo failed; the samples say how.
  bool noEchoSucceeded = false;
  // A signal came while the run went on to its end (measureWatched only).
  bool signalled = false;
};

MeasuringEnd measure(std::vector<ServerEntry>& servers, const Measuring& measuring,
                     bool showProgress);

// The same over the caller's `watch`, which outlives many runs; a signal
// stops nothing but is given back in `signalled`.
MeasuringEnd measureWatched(std::vector<ServerEntry>& servers, const Measuring& measuring,
                            bool showProgress, InterruptWatch& watch);

// What to do when neither engine may open its socket.
inline constexpr const char* noIcmpAllowedText =
    "Neither raw ICMP sockets nor the kernel's ping sockets are allowed to this user. "
    "Either give the program the capability for raw sockets "
    "(setcap cap_net_raw+ep \"$(command -v zelvor-cli)\"), or let your group open ping "
    "sockets (sysctl -w net.ipv4.ping_group_range=\"0 2147483647\").";
inline constexpr const char* nothingMeasuredText = "Nothing could be measured: ";

}  // namespace zelvor::cli
