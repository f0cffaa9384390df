// The settings a measuring command uses: the command line's values, checked
// against the settings' bounds, over the user's stored settings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "app/settings.hpp"

namespace zelvor::cli {

// auto: the raw-socket engine, then the echo service, as the window does.
enum class Engine { automatic, raw, service };

// The engine chosen shows in the settings: the other one's number is 0.
struct Measuring : PingSettings {
  Engine engine = Engine::automatic;
};

// The four measuring options, in the order of settingsFields.
inline constexpr std::array<const char*, 4> measuringOptionNames{"--loops", "--timeout",
                                                                 "--airborne", "--threads"};

struct MeasuringArguments {
  // Nothing where the command line does not give the option.
  std::array<std::optional<long long>, 4> values;
  Engine engine = Engine::automatic;
};

// The settings to measure with, or the complaint about the first argument
// out of bounds: "--loops 0: not within 1 to 1000". An engine asked for by
// name needs its own setting above 0; taken from the stored settings, a 0
// there gives way to the program's default.
std::variant<Measuring, std::string> measuringSettings(const Settings& stored,
                                                       const MeasuringArguments& arguments);

std::string_view engineName(Engine engine);

}  // namespace zelvor::cli
