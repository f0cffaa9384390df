// parseServerList over lists of distinct classes: 10,000 and 50,000 lines,
// and a list as long as the program takes from the site (16 MiB), where
// each line names a class of its own, the case in which finding a line's
// class costs the most.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "catalogue/catalogue.hpp"

namespace {

constexpr std::size_t listLimitBytes = 16 * 1024 * 1024;

std::string distinctClasses(std::size_t lines, std::size_t maxBytes) {
  std::string list;
  for (std::size_t i = 0; i < lines; ++i) {
    std::string line = "Class " + std::to_string(i) + ":198.18." + std::to_string(i / 250 % 256) +
                       "." + std::to_string(i % 250) + ":80\n";
    if (list.size() + line.size() > maxBytes) break;
    list += line;
  }
  return list;
}

void parse(benchmark::State& state, const std::string& list) {
  std::size_t classes = 0;
  for (auto _ : state) {
    const zelvor::ServerCatalogue catalogue = zelvor::parseServerList(list);
    classes = catalogue.size();
    benchmark::DoNotOptimize(catalogue.data());
  }
  state.counters["classes"] = static_cast<double>(classes);
  state.counters["bytes"] = static_cast<double>(list.size());
}

void distinct10k(benchmark::State& state) {
  static const std::string list = distinctClasses(10000, listLimitBytes);
  parse(state, list);
}

void distinct50k(benchmark::State& state) {
  static const std::string list = distinctClasses(50000, listLimitBytes);
  parse(state, list);
}

void distinct16MiB(benchmark::State& state) {
  static const std::string list = distinctClasses(listLimitBytes, listLimitBytes);
  parse(state, list);
}

BENCHMARK(distinct10k)->Name("parse_list/distinct_10000")->Unit(benchmark::kMillisecond);
BENCHMARK(distinct50k)->Name("parse_list/distinct_50000")->Unit(benchmark::kMillisecond);
BENCHMARK(distinct16MiB)->Name("parse_list/distinct_16MiB")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
