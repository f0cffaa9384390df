#include "app/site_services.hpp"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/browser.hpp"
#include "app/unsent_reports.hpp"
#include "net/http_client.hpp"
#include "ping/ping_run.hpp"
#include "support/resource_string.hpp"

namespace zelvor {

WorkflowServices siteServices(RunState& runState) {
  WorkflowServices services;
  services.fetch = [](const std::string& host, const std::string& path, std::uint16_t port) {
    return httpGet(host, path, port, maxListReplyBytes);
  };
  services.post = [](const std::string& host, const std::string& path, const std::string& body,
                     std::uint16_t port) {
    return httpPost(host, path, body, port, maxHandleReplyBytes);
  };
  services.keepUnsent = [](const std::string& report) {
    return UnsentReports(UnsentReports::defaultFolder()).keep(report);
  };
  services.ping = [&runState](std::vector<ServerEntry>& servers, const Settings& stored) {
    const PingEnd end =
        runPing(runState, servers, pingSettingsOf(settingsInUse(stored)), systemEchoPlatforms());
    if (end.failure) throw *end.failure;
  };
  services.openBrowser = openInBrowser;
  services.text = kelvo::resourceString;
  services.sleep = [](std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  return services;
}

}  // namespace zelvor
