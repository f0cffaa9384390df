// The jobs' real services over the site, the echo engines and the system.
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
  // Within their bounds the settings are never negative.
  services.ping = [&runState](std::vector<ServerEntry>& servers, const Settings& stored) {
    const Settings measuring = settingsInUse(stored);
    runPing(runState, servers, static_cast<std::uint32_t>(measuring.loops),
            static_cast<std::uint32_t>(measuring.timeoutNew),
            static_cast<std::uint32_t>(measuring.airborneNew),
            static_cast<std::uint32_t>(measuring.threads), systemEchoPlatforms());
  };
  services.openBrowser = openInBrowser;
  services.text = kelvo::resourceString;
  services.sleep = [](std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  return services;
}

}  // namespace zelvor
