// A file's bytes at once: reports, lists and other files small enough to
// hold whole.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kelvo {

// None when the file cannot be opened or reading it fails.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace kelvo
