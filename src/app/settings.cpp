#include "app/settings.hpp"

#include <charconv>
#include <system_error>

namespace zelvor {

namespace {

// from_chars takes a minus sign but no plus sign, and no blanks; a value
// out of the 32-bit range is refused like any other malformed one.
bool parseInt32(std::string_view text, std::int32_t& value) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) return false;
  }
  std::int32_t parsed = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, parsed);
  if (error != std::errc() || stop != end) return false;
  value = parsed;
  return true;
}

void appendText(std::string& text, const char* name, const std::optional<std::string>& value) {
  if (!value) return;
  text += name;
  text += '=';
  text += *value;
  text += '\n';
}

void applyLine(std::string_view line, Settings& settings) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view name = line.substr(0, equals);
  if (name == siteSettingName) {
    settings.site = std::string(line.substr(equals + 1));
    return;
  }
  if (name == labelSettingName) {
    settings.label = std::string(line.substr(equals + 1));
    return;
  }
  if (name == ipSettingName) {
    settings.ip = std::string(line.substr(equals + 1));
    return;
  }
  std::int32_t value = 0;
  if (!parseInt32(line.substr(equals + 1), value)) return;
  for (const SettingsField& field : settingsFields) {
    if (name == field.name) settings.*field.member = value;
  }
}

}  // namespace

Settings parseSettingsText(std::string_view text) {
  Settings settings;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    applyLine(line, settings);
  }
  return settings;
}

Settings settingsInUse(const Settings& stored) {
  const Settings defaults;
  Settings used = stored;
  for (const SettingsField& field : settingsFields) {
    const std::int32_t value = stored.*field.member;
    if (value < field.min || value > field.max) used.*field.member = defaults.*field.member;
  }
  return used;
}

PingSettings pingSettingsOf(const Settings& inUse) {
  return {static_cast<std::uint32_t>(inUse.loops), static_cast<std::uint32_t>(inUse.timeoutNew),
          static_cast<std::uint32_t>(inUse.airborneNew), static_cast<std::uint32_t>(inUse.threads),
          ipInUse(inUse.ip)};
}

IpChoice ipInUse(const std::optional<std::string>& stored) {
  if (!stored) return IpChoice::automatic;
  return parseIpChoice(*stored).value_or(IpChoice::automatic);
}

std::optional<std::string> refusedIpSetting(const std::optional<std::string>& stored) {
  if (!stored || parseIpChoice(*stored)) return std::nullopt;
  return "the stored ip \"" + *stored + "\" is not auto, 4 or 6 and is ignored";
}

std::string formatSettingsText(const Settings& settings) {
  std::string text;
  for (const SettingsField& field : settingsFields) {
    text += field.name;
    text += '=';
    text += std::to_string(settings.*field.member);
    text += '\n';
  }
  appendText(text, siteSettingName, settings.site);
  appendText(text, labelSettingName, settings.label);
  appendText(text, ipSettingName, settings.ip);
  return text;
}

}  // namespace zelvor
