// A fresh, empty folder of the system's temporary folder (TMPDIR, where set)
// for one test, removed with all it holds when the test is done, on every
// platform.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zelvor::test {

class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& tag) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                                        ("zelvor-" + tag + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = std::move(candidate);
        return;
      }
    }
    throw std::runtime_error("no free temporary folder name");
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

  // Writes `text` to the file `name` in the folder, replacing it whole as an
  // editor saving it would (a reader never sees half of it); its full path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::path partial = file;
    partial += ".new";
    std::ofstream(partial, std::ios::binary) << text;
    std::filesystem::rename(partial, file);
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace zelvor::test
