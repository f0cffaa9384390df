// Fills a site database for bench/site-history through the store's own
// interface, as posts would, but without HTTP: a year of runs of one class,
// one every five minutes ending now, each with its host summaries.
//
//     history_fill DATABASE RUNS
//
// Every run has the same five hosts of ten samples with a few losses; every
// third is labelled "office". Many threads post at once, so that the
// writer's group commit stores them in large batches.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/report.hpp"
#include "command_line.hpp"
#include "site/handle.hpp"
#include "site/host_summary.hpp"
#include "site/store.hpp"
#include "stats/host_figures.hpp"
#include "support/failure.hpp"

namespace {

constexpr char className[] = "Bench class";
constexpr std::int64_t intervalMs = 5 * 60 * 1000;
constexpr int hosts = 5;
constexpr int samples = 10;
constexpr int threads = 64;

std::string reportOf(std::uint32_t index) {
  std::mt19937 draw(index);
  std::string report = std::string(className) + "\n";
  for (int host = 0; host < hosts; ++host) {
    const std::string name = "host-" + std::to_string(host) + ".example.net";
    const int base = 10 + 20 * host;
    for (int sample = 0; sample < samples; ++sample) {
      if (draw() % 50 == 0) {
        report += name + "::TIMEOUT\n";
      } else {
        report += name + ":" + std::to_string(base + static_cast<int>(draw() % 15)) + ":\n";
      }
    }
  }
  return report + "END\n";
}

}  // namespace

int main(int argc, char** argv) {
  const auto runs = argc == 3 ? zelvor::bench::parseNumber(argv[2]) : std::nullopt;
  if (!runs) {
    std::fprintf(stderr, "usage: history_fill DATABASE RUNS\n");
    return 2;
  }
  try {
    auto store = zelvor::site::openSqliteStore(argv[1], zelvor::site::randomHandle);
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
      posters.emplace_back([&] {
        try {
          for (std::uint32_t i = next++; i < *runs && !failed; i = next++) {
            const std::string report = reportOf(i);
            const zelvor::ServerClass measured = zelvor::parseReport(report);
            const std::int64_t at = nowMs - static_cast<std::int64_t>(*runs - 1 - i) * intervalMs;
            zelvor::site::NewRun run{
                measured.name,
                report,
                at,
                zelvor::stats::runMedian(measured),
                measured.servers.size(),
                static_cast<std::size_t>(hosts * samples),
                {},
                i % 3 == 0 ? std::optional<std::string>("office") : std::nullopt,
                at,
                zelvor::site::packHostSummaries(measured)};
            store->addRun(run);
          }
        } catch (const kelvo::Failure& failure) {
          std::fprintf(stderr, "history_fill: %s\n", failure.c_str());
          failed = true;
        }
      });
    }
    for (std::thread& poster : posters) poster.join();
    if (failed) return 1;
    std::printf("history_fill: %u runs of \"%s\", %d hosts x %d samples each\n", *runs, className,
                hosts, samples);
  } catch (const kelvo::Failure& failure) {
    std::fprintf(stderr, "history_fill: %s\n", failure.c_str());
    return 1;
  }
  return 0;
}
