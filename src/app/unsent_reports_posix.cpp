#include "app/unsent_reports.hpp"
#include "app/xdg_folder_posix.hpp"

namespace zelvor {

std::string UnsentReports::defaultFolder() {
  const std::string data = xdgBaseFolder("XDG_DATA_HOME", "/.local/share");
  if (data.empty()) return "";
  return data + "/Kivrel/Zelvor/unsent/";
}

}  // namespace zelvor
