// Where the unsent reports go on Windows: the local (not roaming)
// application data folder, since a report belongs to the machine it
// measured from.
#include <windows.h>
// shlobj.h needs windows.h first.
#include <shlobj.h>

#include <string>

#include "app/unsent_reports.hpp"

namespace zelvor {

std::string UnsentReports::defaultFolder() {
  char folder[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                       SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return "";
  }
  return std::string(folder) + "\\Kivrel\\Zelvor\\unsent\\";
}

}  // namespace zelvor
