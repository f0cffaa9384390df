// The settings the program keeps between runs (six numbers and the optional
// site), their text form, and the store that keeps them (a file on Linux,
// the registry on Windows).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

// No value is held to a range here: each goes to its user as stored,
// negative ones included, and the user decides what it makes of it.
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

  bool operator==(const Settings&) const = default;
};

// A numeric setting's stored name and where it lives in the record. Both
// stores write in this order, and the site after them.
struct SettingsField {
  const char* name;
  std::int32_t Settings::*member;
};

inline constexpr const char* siteSettingName = "site";

inline constexpr std::array<SettingsField, 6> settingsFields{{
    {"loops", &Settings::loops},
    {"timeout_new", &Settings::timeoutNew},
    {"airborne_new", &Settings::airborneNew},
    {"threads", &Settings::threads},
    {"winx", &Settings::winx},
    {"winy", &Settings::winy},
}};

// Reads `name=value` lines, ended by LF or CR LF (the last one may lack its
// end). Starts from the defaults; a line sets a value only when its name is
// one of the six, exactly, and its value is a decimal signed 32-bit number:
// an optional sign and digits, nothing else, not even blanks. A `site` line
// sets the site to whatever follows its `=`. Every other line is ignored,
// and a later line wins over an earlier one. Never fails.
Settings parseSettingsText(std::string_view text);

// The six `name=value\n` lines in the order of settingsFields, then
// `site=...\n` when there is a site.
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
