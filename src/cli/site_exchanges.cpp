#include "cli/site_exchanges.hpp"

#include <algorithm>

#include "app/failure_text.hpp"
#include "app/post_target.hpp"
#include "app/site_services.hpp"
#include "app/string_ids.hpp"
#include "net/http_client.hpp"
#include "support/failure.hpp"
#include "support/resource_string.hpp"

namespace zelvor::cli {

namespace {

constexpr const char* noClassesText = "the site lists no classes: ";
constexpr std::size_t maxHandleBytes = 64;

}  // namespace

bool isHandleReply(const std::string& reply) {
  return !reply.empty() && reply.size() <= maxHandleBytes &&
         std::all_of(reply.begin(), reply.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
         });
}

std::string postReport(const SiteInUse& site, const std::string& report, const PostQuery& query) {
  const std::string target =
      postTarget(kelvo::resourceString(text::resultsPath), query.label, query.measuredAt);
  const std::string handle =
      httpPost(site.address.host, target, report, site.address.port, maxHandleReplyBytes);
  if (!isHandleReply(handle)) throw kelvo::Failure(notHandleText);
  return site.resultsAddress + handle;
}

std::variant<ServerCatalogue, std::string> fetchCatalogue(const SiteInUse& site) {
  ServerCatalogue catalogue;
  try {
    catalogue = parseServerList(httpGet(site.address.host, kelvo::resourceString(text::listPath),
                                        site.address.port, maxListReplyBytes));
  } catch (...) {
    return kelvo::resourceString(text::connectError) + siteAuthority(site.address) + ": " +
           currentFailureText();
  }
  if (catalogue.empty()) return noClassesText + siteAuthority(site.address);
  return catalogue;
}

std::string postFailureLine(const SiteInUse& site, const std::string& failure) {
  const PostFailure reason = postFailure(failure, site.address, kelvo::resourceString);
  if (reason.refused) return reason.reason + " (" + siteAuthority(site.address) + ')';
  return reason.reason + ": " + failure;
}

}  // namespace zelvor::cli
