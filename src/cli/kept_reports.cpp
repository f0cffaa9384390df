#include "cli/kept_reports.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/failure_text.hpp"
#include "app/post_target.hpp"
#include "catalogue/report.hpp"
#include "cli/site_exchanges.hpp"
#include "net/http_client.hpp"
#include "support/whole_file.hpp"

namespace zelvor::cli {

namespace {

namespace fs = std::filesystem;

// Moved, never copied and removed: a report is in one place or the other.
std::string setAside(const std::string& folder, const std::string& name) {
  const fs::path aside = fs::path(folder) / refusedFolderName;
  std::error_code error;
  fs::create_directories(aside, error);
  fs::rename(fs::path(folder) / name, aside / name, error);
  if (error) return "it could not be moved aside and stays kept: " + error.message();
  return "moved to " + (aside / name).string();
}

}  // namespace

bool isLastingRefusal(std::string_view failure) {
  if (!failure.starts_with(httpFailurePrefix)) return false;
  const std::string_view code = failure.substr(std::string_view(httpFailurePrefix).size());
  return code.size() == 3 && code[0] == '4' && code[1] >= '0' && code[1] <= '9' && code[2] >= '0' &&
         code[2] <= '9' && code != "408" && code != "429";
}

std::vector<std::string> keptReportNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    std::string name = entry->path().filename().string();
    if (entry->is_regular_file(error) && measuredAtOfKeptName(name)) names.push_back(name);
  }
  // The names begin with the UTC second and a count, so they sort as time.
  std::sort(names.begin(), names.end());
  return names;
}

KeptPosting postKeptReports(const SiteInUse& site, const std::optional<std::string>& label,
                            const std::string& folder,
                            const std::function<void(const std::string&)>& say) {
  KeptPosting done;
  for (const std::string& name : keptReportNames(folder)) {
    const fs::path path = fs::path(folder) / name;
    const std::optional<std::string> report = kelvo::readWholeFile(path);
    if (!report) continue;  // gone meanwhile, or not ours to read: left alone
    try {
      parseReport(*report);
    } catch (...) {
      say("kept report " + name + " is not a report (" + currentFailureText() + "); " +
          setAside(folder, name));
      ++done.setAside;
      continue;
    }
    try {
      const std::string address = postReport(site, *report, {label, measuredAtOfKeptName(name)});
      std::error_code error;
      fs::remove(path, error);
      say("kept report " + name + " posted: " + address +
          (error ? " (the file could not be removed: " + error.message() + ')' : ""));
      ++done.posted;
    } catch (...) {
      const std::string failure = currentFailureText();
      if (isLastingRefusal(failure)) {
        say("kept report " + name + ": " + postFailureLine(site, failure) + "; " +
            setAside(folder, name));
        ++done.setAside;
        continue;
      }
      say("kept report " + name + " stays kept: " + postFailureLine(site, failure));
      done.stopped = true;
      break;
    }
  }
  return done;
}

}  // namespace zelvor::cli
