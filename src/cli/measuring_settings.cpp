#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

namespace {

std::string outOfBounds(const MeasuringOption& option, long long value) {
  return std::string(option.name) + ' ' + std::to_string(value) + ": not within " +
         std::to_string(option.field.min) + " to " + std::to_string(option.field.max);
}

}  // namespace

std::variant<Measuring, std::string> measuringSettings(const Settings& stored,
                                                       const MeasuringArguments& arguments) {
  Settings used = settingsInUse(stored);
  for (const MeasuringOption& option : measuringOptions) {
    const std::optional<long long>& value = arguments.*option.argument;
    if (!value) continue;
    if (*value < option.field.min || *value > option.field.max) return outOfBounds(option, *value);
    used.*option.field.member = static_cast<std::int32_t>(*value);
  }

  // The engine not chosen is turned off; the chosen one must have room.
  const Settings defaults;
  const auto keepEngine = [&](const MeasuringOption& option) -> std::optional<std::string> {
    std::int32_t& setting = used.*option.field.member;
    if (setting > 0) return std::nullopt;
    if (arguments.*option.argument) {
      return std::string("--engine ") + std::string(engineName(arguments.engine)) + " needs " +
             option.name + " of 1 or more";
    }
    setting = defaults.*option.field.member;
    return std::nullopt;
  };
  if (arguments.engine == Engine::raw) {
    if (auto complaint = keepEngine(airborneOption)) return *complaint;
    used.threads = 0;
  } else if (arguments.engine == Engine::service) {
    if (auto complaint = keepEngine(threadsOption)) return *complaint;
    used.airborneNew = 0;
  }

  Measuring measuring{pingSettingsOf(used), arguments.engine};
  if (arguments.ip) measuring.ip = *arguments.ip;
  return measuring;
}

std::string_view engineName(Engine engine) {
  for (const auto& [name, named] : engineNames) {
    if (named == engine) return name;
  }
  return engineNames.front().first;
}

}  // namespace zelvor::cli
