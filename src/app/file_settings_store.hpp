// The settings kept as text in a file of their own. Only the POSIX build
// implements it; Windows keeps them in the registry.
#pragma once

#include <cstddef>
#include <string>

#include "app/settings.hpp"

namespace zelvor {

class FileSettingsStore final : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path);

  // $XDG_CONFIG_HOME/Kivrel/Zelvor.conf, or ~/.config/Kivrel/Zelvor.conf
  // when XDG_CONFIG_HOME is unset, empty or relative. The home directory is
  // $HOME, or the user's entry in the password database when HOME is unset
  // or empty. Empty when neither knows it: such a store loads the defaults
  // and cannot save.
  static std::string defaultPath();

  const std::string& path() const noexcept { return path_; }

  // Defaults for a missing, unreadable or oversized file, and for anything
  // that is not a regular file.
  Settings load() override;
  // Makes the missing directories (0700), writes a temporary file beside the
  // target and renames it over the target, so that a reader sees the old
  // file or the new one, never a part. Throws "Settings not saved: <path>:
  // <reason>".
  void save(const Settings& settings) override;

  // Larger files are not ours, and reading one whole could exhaust memory.
  static constexpr std::size_t maxFileBytes = 64 * 1024;

 private:
  std::string path_;
};

}  // namespace zelvor
