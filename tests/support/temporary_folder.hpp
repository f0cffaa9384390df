// A fresh, empty folder of the system's temporary folder for one test,
// removed with all it holds when the test is done, on every platform.
#pragma once

#include <filesystem>
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

 private:
  std::filesystem::path path_;
};

}  // namespace zelvor::test
