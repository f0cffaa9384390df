// The settings file on POSIX systems: read whole, replaced whole.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/file_settings_store.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

constexpr const char* fileBelowConfig = "/Kivrel/Zelvor.conf";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string homeDirectory() {
  std::string home = environment("HOME");
  if (!home.empty()) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return "";
  }
  return found->pw_dir;
}

// Read errno before anything else can change it.
std::string notSaved(const std::string& path) {
  const int code = errno;
  return std::string("Settings not saved: ") + path + ": " + std::strerror(code);
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p: an existing directory on the way is fine, and a file on the way
// fails here or at the next step with ENOTDIR. Only we use these
// directories, hence 0700.
bool makeDirectories(const std::string& directory) {
  for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    const std::string prefix = directory.substr(0, end);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) return true;
  }
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written =
        kelvo::retryInterrupted([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (written < 0) return false;
    // Only a zero-length write may write nothing; never spin on one.
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The temporary copy of a save in progress, removed when its owner goes
// unless the rename has already taken it: a failed save leaves nothing.
class TemporaryFile {
 public:
  TemporaryFile() noexcept = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Only a name we created is ever ours to remove.
  void adopt(std::string path) noexcept { path_ = std::move(path); }
  void renamed() noexcept { path_.clear(); }
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
};

}  // namespace

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

std::string FileSettingsStore::defaultPath() {
  // A relative XDG_CONFIG_HOME would make the file depend on the working
  // directory; the base directory rules say to ignore it.
  const std::string config = environment("XDG_CONFIG_HOME");
  if (config.starts_with('/')) return config + fileBelowConfig;
  const std::string home = homeDirectory();
  if (home.empty()) return "";
  return home + "/.config" + fileBelowConfig;
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
  if (path_.empty()) {
    errno = ENOENT;
    throw notSaved(path_);
  }
  const std::string directory = directoryOf(path_);
  if (!makeDirectories(directory)) throw notSaved(path_);

  TemporaryFile temporary;
  {
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600, under a fresh
    // name in the target's directory, so the rename below stays within one
    // file system.
    std::string name = path_ + ".XXXXXX";
    kelvo::OwnedFd file(::mkostemp(name.data(), O_CLOEXEC));
    if (!file.valid()) throw notSaved(path_);
    temporary.adopt(std::move(name));
    // fsync reports the write-back errors a close could report, so the close
    // at the end of this block needs no check of its own.
    if (!writeAll(file.get(), formatSettingsText(settings)) || ::fsync(file.get()) != 0) {
      throw notSaved(path_);
    }
  }
  if (::rename(temporary.path().c_str(), path_.c_str()) != 0) throw notSaved(path_);
  temporary.renamed();

  // The rename lasts through a crash only once the directory is on disk.
  // EINVAL: this file system cannot sync a directory; nothing more to do.
  kelvo::OwnedFd parent(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid() || (::fsync(parent.get()) != 0 && errno != EINVAL)) throw notSaved(path_);
}

std::unique_ptr<SettingsStore> systemSettingsStore() {
  return std::make_unique<FileSettingsStore>(FileSettingsStore::defaultPath());
}

}  // namespace zelvor
