// The site's addresses and what each answers: the server list, the report
// post, the results pages and their downloads, the index of runs. Handlers
// are thin: they check, call the store or the statistics, and render.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "site/post_limit.hpp"
#include "site/server_list.hpp"
#include "site/store.hpp"

namespace zelvor::site {

// Who may post how often: off by default, since an organisation's clients
// often reach the site from one address.
struct PostRules {
  std::optional<unsigned> perMinute;
  // The load balancer whose X-Forwarded-For is believed; empty for none.
  std::string trustedProxy;
};

class Site {
 public:
  // Runs listed on one page of the index, and runs in a results page's trend.
  static constexpr std::size_t runsPerPage = 50;
  static constexpr std::size_t trendRuns = 20;

  Site(Store& store, ServerList list, const PostRules& rules = {});
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  // Adds the routes, the body limit and the request log to `server`.
  void install(httplib::Server& server, std::size_t maxBodyBytes);
  // The list served from now on; requests being answered keep the old one.
  void replaceList(ServerList list);

 private:
  std::shared_ptr<const ServerList> currentList() const;
  void fetchList(const httplib::Request& request, httplib::Response& response) const;
  void postReport(const httplib::Request& request, httplib::Response& response);
  void showIndex(const httplib::Request& request, httplib::Response& response);
  // The results of the run named by the "handle" parameter, rendered by
  // `render` as `contentType`; the not-found page when there is none.
  template <class Render>
  void showResults(const httplib::Request& request, httplib::Response& response, Render render,
                   const char* contentType);

  // Handled: a post over its address's limit, refused with 429.
  bool refuseOverLimit(const httplib::Request& request, httplib::Response& response);

  Store& store_;
  std::optional<PostLimit> postLimit_;
  std::string trustedProxy_;
  mutable std::mutex listMutex_;
  std::shared_ptr<const ServerList> list_;
};

}  // namespace zelvor::site
