#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "app/atomic_file.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

// Read errno before anything else can change it.
kelvo::Failure failure(const std::string& path) {
  const int code = errno;
  return kelvo::Failure(path + ": " + std::strerror(code));
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p: an existing folder on the way is fine, and a file on the way
// fails here or at the next step with ENOTDIR. Only we use these folders,
// hence 0700.
bool makeFolders(const std::string& folder) {
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string prefix = folder.substr(0, end);
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

// The temporary copy of a write in progress, removed when its owner goes
// unless the rename has already taken it: a failed write leaves nothing.
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

// False when a file is at `path` already.
bool moveKeepingExisting(TemporaryFile& temporary, const std::string& path) {
  if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) ==
      0) {
    temporary.renamed();
    return true;
  }
  if (errno == EEXIST) return false;
  // Some file systems (NFS among them) cannot rename without replacing. A
  // hard link refuses an existing name just as well, and the temporary name
  // then goes with its owner.
  if (errno != EINVAL) throw failure(path);
  if (::link(temporary.path().c_str(), path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  throw failure(path);
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, ExistingFile existing) {
  if (path.empty()) {
    errno = ENOENT;
    throw failure(path);
  }
  const std::string folder = folderOf(path);
  if (!makeFolders(folder)) throw failure(path);

  TemporaryFile temporary;
  {
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600, under a fresh
    // name in the target's folder, so the rename below stays within one
    // file system.
    std::string name = path + ".XXXXXX";
    kelvo::OwnedFd file(::mkostemp(name.data(), O_CLOEXEC));
    if (!file.valid()) throw failure(path);
    temporary.adopt(std::move(name));
    // fsync reports the write-back errors a close could report, so the close
    // at the end of this block needs no check of its own.
    if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0) throw failure(path);
  }
  if (existing == ExistingFile::replace) {
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) throw failure(path);
    temporary.renamed();
  } else if (!moveKeepingExisting(temporary, path)) {
    return false;
  }

  // The rename lasts through a crash only once the folder is on disk.
  // EINVAL: this file system cannot sync a folder; nothing more to do.
  kelvo::OwnedFd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.valid() || (::fsync(parent.get()) != 0 && errno != EINVAL)) throw failure(path);
  return true;
}

}  // namespace zelvor
