#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

namespace {

constexpr std::size_t airborneIndex = 2;
constexpr std::size_t threadsIndex = 3;

std::string outOfBounds(std::size_t index, long long value) {
  const SettingsField& field = settingsFields[index];
  return std::string(measuringOptionNames[index]) + ' ' + std::to_string(value) + ": not within " +
         std::to_string(field.min) + " to " + std::to_string(field.max);
}

}  // namespace

std::variant<Measuring, std::string> measuringSettings(const Settings& stored,
                                                       const MeasuringArguments& arguments) {
  Settings used = settingsInUse(stored);
  for (std::size_t i = 0; i < measuringOptionNames.size(); ++i) {
    const std::optional<long long>& value = arguments.values[i];
    if (!value) continue;
    const SettingsField& field = settingsFields[i];
    if (*value < field.min || *value > field.max) return outOfBounds(i, *value);
    used.*field.member = static_cast<std::int32_t>(*value);
  }

  // The engine not chosen is turned off; the chosen one must have room.
  const Settings defaults;
  const auto keepEngine = [&](std::size_t index) -> std::optional<std::string> {
    std::int32_t& setting = used.*settingsFields[index].member;
    if (setting > 0) return std::nullopt;
    if (arguments.values[index]) {
      return std::string("--engine ") + std::string(engineName(arguments.engine)) + " needs " +
             measuringOptionNames[index] + " of 1 or more";
    }
    setting = defaults.*settingsFields[index].member;
    return std::nullopt;
  };
  if (arguments.engine == Engine::raw) {
    if (auto complaint = keepEngine(airborneIndex)) return *complaint;
    used.threads = 0;
  } else if (arguments.engine == Engine::service) {
    if (auto complaint = keepEngine(threadsIndex)) return *complaint;
    used.airborneNew = 0;
  }

  return Measuring{pingSettingsOf(used), arguments.engine};
}

std::string_view engineName(Engine engine) {
  switch (engine) {
    case Engine::raw:
      return "raw";
    case Engine::service:
      return "service";
    case Engine::automatic:
      break;
  }
  return "auto";
}

}  // namespace zelvor::cli
