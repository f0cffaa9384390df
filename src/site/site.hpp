// The site's answers: the server list, the report post, the results pages
// and their downloads, the index of runs, the health check. One function
// over the site's own request and reply values, so that every route, limit
// and page can be checked without a socket; whatever serves it over the
// network only frames the bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site/address_range.hpp"
#include "site/history.hpp"
#include "site/history_cache.hpp"
#include "site/metrics.hpp"
#include "site/networks.hpp"
#include "site/post_limit.hpp"
#include "site/reply.hpp"
#include "site/request.hpp"
#include "site/server_list.hpp"
#include "site/shared_value.hpp"
#include "site/store.hpp"

namespace zelvor::site {

// What a post may be, and who may post how often.
struct PostRules {
  // Off by default, since an organisation's clients often reach the site
  // from one address.
  std::optional<unsigned> perMinute;
  // The load balancer whose X-Forwarded-For is believed; empty for none.
  std::string trustedProxy;
  // A longer report is refused before a byte of it is read.
  std::size_t maxReportBytes = 8 * 1024 * 1024;
};

// Who may read /metrics: the client's address as the post limit decides it
// (behind the trusted proxy, the one it forwards for) must lie in one of
// these ranges. What the site has seen is the operator's to know.
struct MetricsRules {
  std::vector<AddressRange> from = loopbackRanges();
};

class Site {
 public:
  // Runs listed on one page of the index, and runs in a results page's trend.
  static constexpr std::size_t runsPerPage = 50;
  static constexpr std::size_t trendRuns = 20;

  Site(Store& store, ServerList list, const PostRules& rules = {}, MetricsRules metricsRules = {});
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  // The refusal of a request that its head alone decides, before its body
  // is read (a body too long or of unknown length, a post over its
  // address's limit); it closes the connection. None: read the body, then
  // answer.
  std::optional<Reply> screen(const Request& head);
  // The answer to a whole request. Never throws: a failure is answered 503
  // (the store cannot answer now) or 500, and logged. May wait on the store.
  Reply answer(const Request& request);
  // The answer to a request that cannot wait its turn for the store.
  static Reply busy();
  // The answer to bytes that do not read as a request; it closes the
  // connection, since where the next request would start is unknown.
  static Reply malformed();
  // Counts a refusal that the server made without asking (busy, malformed)
  // among the requests.
  void countRefusal(const Reply& reply);

  // The list served from now on; requests being answered keep the old one.
  void replaceList(ServerList list);
  // The networks that label unlabelled posts from now on.
  void replaceNetworks(Networks networks);

 private:
  std::optional<Reply> refusalOf(const Request& head);
  Reply route(const Request& request);
  Reply showMetrics(const Request& request) const;
  Reply postReport(const Request& request);
  Reply showIndex(const Request& request);
  // The results of the run named by the "handle" parameter, rendered by
  // `render` as `contentType`; the not-found page when there is none.
  template <class Render>
  Reply showResults(const Request& request, Render render, const char* contentType);
  // A host's history and a class's overview over the "range" parameter's
  // time, ending now; the not-found page for a query that names none.
  // The points of `query` (its time set here) over the request's range;
  // none when it names none.
  std::optional<HistoryBuilder> pointsOf(const Request& request, PointQuery& query);
  template <class Render>
  Reply showHistory(const Request& request, Render render, const char* contentType);
  template <class Render>
  Reply showClass(const Request& request, Render render, const char* contentType);

  Store& store_;
  std::optional<PostLimit> postLimit_;
  const std::string trustedProxy_;
  const std::size_t maxReportBytes_;
  const std::vector<AddressRange> metricsFrom_;
  Metrics metrics_;
  SharedValue<ServerList> list_;
  SharedValue<Networks> networks_{Networks()};
  HistoryCache history_;
};

}  // namespace zelvor::site
