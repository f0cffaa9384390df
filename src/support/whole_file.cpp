#include "support/whole_file.hpp"

#include <fstream>
#include <sstream>

namespace kelvo {

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return content.str();
}

}  // namespace kelvo
