#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "app/atomic_file.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

// Read the last error before anything else can change it.
kelvo::Failure failure(const std::string& path) {
  const kelvo::Failure reason = kelvo::Failure::lastError();
  return kelvo::Failure(path + ": " + reason);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Every folder on the way is tried, the drive's and the existing ones
// included; what truly cannot be made makes the temporary file fail.
void makeFolders(const std::string& path) {
  for (std::size_t end = 1; end < path.size(); ++end) {
    if (isSeparator(path[end]) && !isSeparator(path[end - 1])) {
      CreateDirectoryA(path.substr(0, end).c_str(), nullptr);
    }
  }
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? "." : path.substr(0, separator + 1);
}

// The open temporary file, closed and then removed when its owner goes,
// unless the move has already taken it: a failed write leaves nothing.
class TemporaryFile {
 public:
  TemporaryFile() noexcept = default;
  ~TemporaryFile() {
    close();
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Only a name the system made for us is ever ours to remove.
  void adopt(std::string path) noexcept { path_ = std::move(path); }
  void opened(HANDLE file) noexcept { file_ = file; }
  HANDLE file() const noexcept { return file_; }
  bool close() noexcept {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    const bool closed = CloseHandle(file_) != 0;
    file_ = INVALID_HANDLE_VALUE;
    return closed;
  }
  void moved() noexcept { path_.clear(); }
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

bool writeAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
    // A disk write that writes nothing without failing: never spin on it.
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, ExistingFile existing) {
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    throw failure(path);
  }
  makeFolders(path);

  TemporaryFile temporary;
  char name[MAX_PATH] = {};
  // Creates the file under a name no other file in the folder has, in the
  // target's folder, so the move below stays within one volume.
  if (GetTempFileNameA(folderOf(path).c_str(), "zv", 0, name) == 0) throw failure(path);
  temporary.adopt(name);
  temporary.opened(CreateFileA(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (temporary.file() == INVALID_HANDLE_VALUE || !writeAll(temporary.file(), bytes) ||
      !FlushFileBuffers(temporary.file()) || !temporary.close()) {
    throw failure(path);
  }

  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (existing == ExistingFile::replace) flags |= MOVEFILE_REPLACE_EXISTING;
  if (!MoveFileExA(temporary.path().c_str(), path.c_str(), flags)) {
    const DWORD code = GetLastError();
    if (existing == ExistingFile::keep &&
        (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)) {
      return false;
    }
    SetLastError(code);
    throw failure(path);
  }
  temporary.moved();
  return true;
}

}  // namespace zelvor
