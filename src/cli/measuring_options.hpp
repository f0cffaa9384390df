// The options every measuring command takes, on a CLI11 command.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

inline constexpr const char* ipOptionName = "--ip";

// The four numbers, --engine, and the address family: -4, -6 or --ip, one
// of them at most.
void addMeasuringOptions(CLI::App& command, MeasuringArguments& arguments);

}  // namespace zelvor::cli
