// The reports the site did not take, each kept as a file of its own in the
// user's data folder, byte for byte as it was to be posted, so that it can
// be posted again later.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zelvor {

class UnsentReports {
 public:
  // `folder` ends with the system's path separator; empty when unknown.
  explicit UnsentReports(std::string folder);

  // Linux: $XDG_DATA_HOME/Kivrel/Zelvor/unsent/, or
  // ~/.local/share/Kivrel/Zelvor/unsent/ when XDG_DATA_HOME is unset, empty
  // or relative. Windows: Kivrel\Zelvor\unsent\ in the local application
  // data folder, as SHGetFolderPathA (CSIDL_LOCAL_APPDATA) names it. Empty
  // when the system does not say.
  static std::string defaultFolder();

  // Writes `report` atomically, the folder made when missing, under the
  // first name unsentReportName gives for `now` that no file has yet, and
  // returns the file's full path. Throws kelvo::Failure when it could not
  // (nothing is then left in the folder).
  std::string keep(std::string_view report, std::chrono::system_clock::time_point now) const;
  std::string keep(std::string_view report) const {
    return keep(report, std::chrono::system_clock::now());
  }

  const std::string& folder() const noexcept { return folder_; }

  // How many reports one second can take: the count has three digits.
  static constexpr int maxPerSecond = 999;

 private:
  std::string folder_;
};

// "20240229T235959Z-001.report": the UTC time to the second, then `count`
// (1 to 999), so that names sort in the order the reports were kept.
std::string unsentReportName(std::chrono::system_clock::time_point time, int count);

inline constexpr const char* unknownFolderText = "No data folder is known for unsent reports";
inline constexpr const char* noFreeNameText = "every name of this second is taken";

}  // namespace zelvor
