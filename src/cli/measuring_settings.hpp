// The settings a measuring command uses: the command line's values, checked
// against the settings' bounds, over the user's stored settings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "app/settings.hpp"

namespace zelvor::cli {

// auto: the raw-socket engine, then the echo service, as the window does.
enum class Engine { automatic, raw, service };

// The engine chosen shows in the settings: the other one's number is 0.
struct Measuring : PingSettings {
  Engine engine = Engine::automatic;
};

struct MeasuringArguments {
  // Nothing where the command line does not give the option.
  std::optional<long long> loops;
  std::optional<long long> timeout;
  std::optional<long long> airborne;
  std::optional<long long> threads;
  Engine engine = Engine::automatic;
  // Over the stored ip, which a run otherwise takes.
  std::optional<IpChoice> ip;
};

// The field of settingsFields that holds `member`; no constant, and so no
// build, for a member it lacks.
constexpr const SettingsField& settingsFieldOf(std::int32_t Settings::*member) {
  for (const SettingsField& field : settingsFields) {
    if (field.member == member) return field;
  }
  throw "not a settings field";
}

// A measuring option: the argument it fills and the setting whose value
// and bounds it overrides.
struct MeasuringOption {
  const char* name;
  const char* help;
  std::optional<long long> MeasuringArguments::*argument;
  const SettingsField& field;
};

inline constexpr MeasuringOption loopsOption{"--loops", "Echoes per host (1-1000)",
                                             &MeasuringArguments::loops,
                                             settingsFieldOf(&Settings::loops)};
inline constexpr MeasuringOption timeoutOption{
    "--timeout", "Milliseconds an echo may take (1-60000)", &MeasuringArguments::timeout,
    settingsFieldOf(&Settings::timeoutNew)};
inline constexpr MeasuringOption airborneOption{
    "--airborne", "Requests in flight on the raw socket (0-1024, 0: raw socket off)",
    &MeasuringArguments::airborne, settingsFieldOf(&Settings::airborneNew)};
inline constexpr MeasuringOption threadsOption{
    "--threads", "Echo-service workers (0-64, 0: echo service off)", &MeasuringArguments::threads,
    settingsFieldOf(&Settings::threads)};
// In the order of the help and of the complaints.
inline constexpr std::array<MeasuringOption, 4> measuringOptions{loopsOption, timeoutOption,
                                                                 airborneOption, threadsOption};

// The settings to measure with, or the complaint about the first argument
// out of bounds: "--loops 0: not within 1 to 1000". An engine asked for by
// name needs its own setting above 0; taken from the stored settings, a 0
// there gives way to the program's default.
std::variant<Measuring, std::string> measuringSettings(const Settings& stored,
                                                       const MeasuringArguments& arguments);

// The engines as the command line names them.
inline constexpr std::array<std::pair<std::string_view, Engine>, 3> engineNames{{
    {"auto", Engine::automatic},
    {"raw", Engine::raw},
    {"service", Engine::service},
}};

std::string_view engineName(Engine engine);

}  // namespace zelvor::cli
