// The settings file on POSIX systems: read whole, replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "app/atomic_file.hpp"
#include "app/file_settings_store.hpp"
#include "app/xdg_folder_posix.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

constexpr const char* fileBelowConfig = "/Kivrel/Zelvor.conf";
constexpr const char* notSavedPrefix = "Settings not saved: ";

}  // namespace

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

std::string FileSettingsStore::defaultPath() {
  const std::string config = xdgBaseFolder("XDG_CONFIG_HOME", "/.config");
  if (config.empty()) return "";
  return config + fileBelowConfig;
}

Settings FileSettingsStore::load() {
  // O_NONBLOCK: a FIFO put at our path must not hold the start-up until
  // someone writes to it. Reads of a regular file ignore the flag.
  kelvo::OwnedFd file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got =
        kelvo::retryInterrupted([&] { return ::read(file.get(), buffer, sizeof buffer); });
    if (got < 0) return {};
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > maxFileBytes) return {};
  }
  return parseSettingsText(text);
}

void FileSettingsStore::save(const Settings& settings) {
  try {
    writeFileAtomically(path_, formatSettingsText(settings), ExistingFile::replace);
  } catch (const kelvo::Failure& reason) {
    throw kelvo::Failure(std::string(notSavedPrefix) + reason);
  }
}

std::unique_ptr<SettingsStore> systemSettingsStore() {
  return std::make_unique<FileSettingsStore>(FileSettingsStore::defaultPath());
}

}  // namespace zelvor
