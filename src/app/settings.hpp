// The settings the program keeps between runs (six numbers, the optional
// site, label and ip), their text form, and the store that keeps them (a file
// on Linux, the registry on Windows).
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ping/run_state.hpp"

namespace zelvor {

// Each number is held as stored, whatever its value, so that a save never
// rewrites what the user wrote by hand; settingsInUse applies the bounds.
struct Settings {
  std::int32_t loops = 3;
  std::int32_t timeoutNew = 2000;
  std::int32_t airborneNew = 16;
  std::int32_t threads = 4;
  std::int32_t winx = 100;
  std::int32_t winy = 100;
  // The site to talk to instead of the compiled-in one, as stored: a value
  // that is not an address is kept all the same, so that a save never
  // erases what the user wrote by hand. Nothing when not stored, and then
  // not saved either.
  std::optional<std::string> site = std::nullopt;
  // The vantage label sent with every post, kept as stored for the same
  // reason; labelInUse (app/post_target.hpp) judges it.
  std::optional<std::string> label = std::nullopt;
  // Which address family is measured ("auto", "4" or "6"), kept as stored
  // for the same reason; ipInUse judges it.
  std::optional<std::string> ip = std::nullopt;

  bool operator==(const Settings&) const = default;
};

// A numeric setting's stored name, where it lives in the record and the
// values the program uses it with. Both stores write in this order, and the
// site, the label and the ip after them.
struct SettingsField {
  const char* name;
  std::int32_t Settings::*member;
  std::int32_t min = std::numeric_limits<std::int32_t>::min();
  std::int32_t max = std::numeric_limits<std::int32_t>::max();
};

inline constexpr const char* siteSettingName = "site";
inline constexpr const char* labelSettingName = "label";
inline constexpr const char* ipSettingName = "ip";

// The measuring bounds keep a hand-edited value from taking the machine:
// every loop is a round over all servers, every airborne request a slot and
// every thread a worker. Airborne and threads of 0 turn their engine off.
// The window's place is the window system's to judge.
inline constexpr std::array<SettingsField, 6> settingsFields{{
    {"loops", &Settings::loops, 1, 1000},
    {"timeout_new", &Settings::timeoutNew, 1, 60000},
    {"airborne_new", &Settings::airborneNew, 0, 1024},
    {"threads", &Settings::threads, 0, 64},
    {"winx", &Settings::winx},
    {"winy", &Settings::winy},
}};

// The settings as the program uses them: each number outside its field's
// bounds is taken as its default, as a value that is not a number is. The
// site is left as it is; chooseSite judges it.
Settings settingsInUse(const Settings& stored);

// The four measuring numbers of settings already within their bounds, where
// none is negative, and the ip choice.
PingSettings pingSettingsOf(const Settings& inUse);

// The choice a stored ip names; auto when none is stored, or when what is
// stored names none, as for a number out of its bounds.
IpChoice ipInUse(const std::optional<std::string>& stored);
// The line about a stored ip that names no choice, without the program's
// name; nothing for one that does, or none.
std::optional<std::string> refusedIpSetting(const std::optional<std::string>& stored);

// Reads `name=value` lines, ended by LF or CR LF (the last one may lack its
// end). Starts from the defaults; a line sets a value only when its name is
// one of the six, exactly, and its value is a decimal signed 32-bit number:
// an optional sign and digits, nothing else, not even blanks. A `site` line
// sets the site to whatever follows its `=`, a `label` line the label and an
// `ip` line the ip. Every other line is ignored, and a later line wins over
// an earlier one. Never fails.
Settings parseSettingsText(std::string_view text);

// The six `name=value\n` lines in the order of settingsFields, then
// `site=...\n`, `label=...\n` and `ip=...\n`, each when there is one.
std::string formatSettingsText(const Settings& settings);

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Never fails: whatever is missing or unreadable keeps its default.
  virtual Settings load() = 0;
  // Throws a one-line text when nothing could be saved.
  virtual void save(const Settings& settings) = 0;
};

// The store of this system: the user's settings file, or the machine's key
// in the registry.
std::unique_ptr<SettingsStore> systemSettingsStore();

}  // namespace zelvor
