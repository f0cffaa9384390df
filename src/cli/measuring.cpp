#include "cli/measuring.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/failure_text.hpp"
#include "cli/progress_line.hpp"
#include "ping/echo_service.hpp"
#include "ping/ping_run.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "support/failure.hpp"

namespace zelvor::cli {

namespace {

// How often the line is redrawn, and so how late Ctrl-C may be seen.
constexpr std::uint32_t watchSliceMs = 100;

void drawProgress(ProgressCounter& progress, std::chrono::steady_clock::time_point start) {
  const auto [done, total] = progress.counts();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  const std::string line =
      '\r' + progressLine(done, total, static_cast<std::uint32_t>(elapsed.count()));
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void eraseProgress() {
  const std::string blank = '\r' + std::string(progressLine(0, 0, 0).size() + 16, ' ') + '\r';
  std::fputs(blank.c_str(), stderr);
  std::fflush(stderr);
}

bool anySample(const std::vector<ServerEntry>& servers) {
  return std::any_of(servers.begin(), servers.end(),
                     [](const ServerEntry& server) { return !server.samples.empty(); });
}

std::string whyNothingMeasured(const PingEnd& ran, const Measuring& measuring) {
  const bool rawRefused = measuring.airborne == 0 || ran.rawFailure == rawSocketRefusedText;
  const bool serviceRefused = measuring.threads == 0 || ran.failure == echoServiceRefusedText;
  if (rawRefused && serviceRefused && (measuring.airborne > 0 || measuring.threads > 0))
    return noIcmpAllowedText;
  std::string text = nothingMeasuredText + *ran.failure;
  if (ran.rawFailure && !ran.rawFailure->empty()) text += " (raw sockets: " + *ran.rawFailure + ")";
  return text;
}

MeasuringEnd measureWith(std::vector<ServerEntry>& servers, const Measuring& measuring,
                         bool showProgress, InterruptWatch& watch, bool signalStops) {
  kelvo::Event stop;
  ProgressCounter progress;
  MsClock clock;
  RunState state{{}, {}, progress, clock, stop};

  std::atomic<bool> finished{false};
  std::atomic<bool> interrupted{false};
  std::thread watcher([&] {
    const auto start = std::chrono::steady_clock::now();
    while (!finished.load()) {
      if (watch.wait(watchSliceMs)) {
        interrupted.store(true);
        if (signalStops) stop.set();
      }
      if (showProgress && !finished.load()) drawProgress(progress, start);
    }
    if (showProgress) eraseProgress();
  });

  // The watcher must be joined whatever happens, even when memory runs out.
  PingEnd ran;
  try {
    ran = runPing(state, servers, measuring, systemEchoPlatforms());
  } catch (...) {
    ran.failure = kelvo::Failure(currentFailureText());
  }
  finished.store(true);
  watcher.join();

  MeasuringEnd end;
  (signalStops ? end.interrupted : end.signalled) = interrupted.load();
  if (end.interrupted || !ran.failure) return end;
  if (*ran.failure == pingNeverSucceededText && anySample(servers)) {
    end.noEchoSucceeded = true;
  } else {
    end.failure = whyNothingMeasured(ran, measuring);
  }
  return end;
}

}  // namespace

MeasuringEnd measure(std::vector<ServerEntry>& servers, const Measuring& measuring,
                     bool showProgress) {
  InterruptWatch watch;
  return measureWith(servers, measuring, showProgress, watch, true);
}

MeasuringEnd measureWatched(std::vector<ServerEntry>& servers, const Measuring& measuring,
                            bool showProgress, InterruptWatch& watch) {
  return measureWith(servers, measuring, showProgress, watch, false);
}

}  // namespace zelvor::cli
