// The settings in the registry on Windows: one REG_DWORD value per number
// and a REG_SZ each for the site, the label and the ip, under the machine's
// key for the program.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/settings.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

constexpr const char* settingsKeyPath = "SOFTWARE\\Kivrel\\Zelvor";

// One open registry key, closed when its owner goes.
class RegistryKey {
 public:
  explicit RegistryKey(HKEY key) noexcept : key_(key) {}
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const noexcept { return key_; }

 private:
  HKEY key_;
};

// A text value as stored, up to its first NUL (a REG_SZ need not end with
// one). Nothing when it is missing or not a REG_SZ: such a value is left
// alone, since a save writes a text only when there is one.
std::optional<std::string> readText(HKEY key, const char* name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::string text(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  text.resize(size);
  if (const std::size_t end = text.find('\0'); end != std::string::npos) text.resize(end);
  return text;
}

void writeText(HKEY key, const char* name, const std::optional<std::string>& value) {
  if (!value) return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                 static_cast<DWORD>(value->size() + 1));
}

class RegistrySettingsStore final : public SettingsStore {
 public:
  Settings load() override {
    Settings settings;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsKeyPath, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
      return settings;
    }
    const RegistryKey key(opened);
    for (const SettingsField& field : settingsFields) {
      // A value longer than the buffer fails with ERROR_MORE_DATA; one of
      // another type, or a REG_DWORD shorter than four bytes, is not ours
      // either. Each keeps its default.
      DWORD type = REG_NONE;
      DWORD value = 0;
      DWORD size = sizeof value;
      if (RegQueryValueExA(key.get(), field.name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof value) {
        settings.*field.member = static_cast<std::int32_t>(value);
      }
    }
    settings.site = readText(key.get(), siteSettingName);
    settings.label = readText(key.get(), labelSettingName);
    settings.ip = readText(key.get(), ipSettingName);
    return settings;
  }

  void save(const Settings& settings) override {
    HKEY created = nullptr;
    const LONG code = RegCreateKeyA(HKEY_LOCAL_MACHINE, settingsKeyPath, &created);
    if (code != ERROR_SUCCESS) throw kelvo::Failure::ofCode(static_cast<std::int32_t>(code));
    const RegistryKey key(created);
    // A value that cannot be written is left out rather than failing the
    // rest: the next load takes its default, the others are kept.
    for (const SettingsField& field : settingsFields) {
      const DWORD value = static_cast<DWORD>(settings.*field.member);
      RegSetValueExA(key.get(), field.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
    }
    writeText(key.get(), siteSettingName, settings.site);
    writeText(key.get(), labelSettingName, settings.label);
    writeText(key.get(), ipSettingName, settings.ip);
  }
};

}  // namespace

std::unique_ptr<SettingsStore> systemSettingsStore() {
  return std::make_unique<RegistrySettingsStore>();
}

}  // namespace zelvor
