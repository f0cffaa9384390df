#include "site/site.hpp"

#include <charconv>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "catalogue/report.hpp"
#include "site/embedded_files.hpp"
#include "site/handle.hpp"
#include "site/http_server.hpp"
#include "site/index_page.hpp"
#include "site/not_found_page.hpp"
#include "site/page_frame.hpp"
#include "site/page_paths.hpp"
#include "site/report_digest.hpp"
#include "site/request_log.hpp"
#include "site/results.hpp"
#include "site/results_downloads.hpp"
#include "site/results_page.hpp"
#include "site/style_sheet.hpp"
#include "site/wall_clock.hpp"
#include "stats/host_figures.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char htmlType[] = "text/html; charset=utf-8";
constexpr char textType[] = "text/plain; charset=utf-8";
constexpr char jsonType[] = "application/json";
constexpr char csvType[] = "text/csv; charset=utf-8";
constexpr char cssType[] = "text/css; charset=utf-8";

void notFound(httplib::Response& response) {
  response.status = 404;
  response.set_content(notFoundPage(), htmlType);
}

std::size_t sampleCount(const ServerClass& measured) {
  std::size_t count = 0;
  for (const ServerEntry& entry : measured.servers) count += entry.samples.size();
  return count;
}

// A page number as the index's links write it: 1 to `pageCount`.
std::optional<std::size_t> pageNumber(const std::string& text, std::size_t pageCount) {
  if (text.empty()) return 1;
  std::size_t page = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, page);
  if (error != std::errc() || stop != end || page < 1 || page > pageCount) return std::nullopt;
  return page;
}

// A declared body over the limit is refused before a byte of it is read:
// reading it only to throw it away would let anyone keep a worker busy. A
// body without a declared length (chunked) is refused too: its length is
// known only once it has all been read, and the program always declares it.
httplib::Server::HandlerResponse refuseLargeBody(const httplib::Request& request,
                                                 httplib::Response& response,
                                                 std::size_t maxBodyBytes) {
  if (request.has_header("Transfer-Encoding")) {
    response.status = 411;
    response.set_content("A report must come with its Content-Length\n", textType);
    HttpServer::closeAfterReply();
    return httplib::Server::HandlerResponse::Handled;
  }
  const std::string declared = request.get_header_value("Content-Length");
  std::size_t length = 0;
  const auto [stop, error] =
      std::from_chars(declared.data(), declared.data() + declared.size(), length);
  const bool tooLong =
      error == std::errc::result_out_of_range || (error == std::errc() && length > maxBodyBytes);
  if (!tooLong) return httplib::Server::HandlerResponse::Unhandled;
  response.status = 413;
  response.set_content(
      "The report is longer than the " + std::to_string(maxBodyBytes) + " bytes this site takes\n",
      textType);
  HttpServer::closeAfterReply();
  return httplib::Server::HandlerResponse::Handled;
}

// Whatever a handler throws: the store's failures are texts and mean the
// site cannot answer now; anything else is a fault of ours.
void answerFailure(const httplib::Request& request, httplib::Response& response,
                   std::exception_ptr failure) {
  std::string text = "unknown failure";
  response.status = 500;
  try {
    std::rethrow_exception(failure);
  } catch (const kelvo::Failure& storeFailure) {
    text = storeFailure;
    response.status = 503;
  } catch (const std::bad_alloc&) {
    text = "out of memory";
    response.status = 503;
  } catch (const std::exception& other) {
    text = other.what();
  } catch (...) {
  }
  logFailure(request, text);
  // What a balancer or a patient client waits before asking again.
  if (response.status == 503) response.set_header("Retry-After", "5");
  response.set_content(response.status == 503
                           ? "The site cannot answer just now; try again in a while\n"
                           : "The site failed to answer this request\n",
                       textType);
}

}  // namespace

Site::Site(Store& store, ServerList list, const PostRules& rules)
    : store_(store),
      trustedProxy_(rules.trustedProxy),
      list_(std::make_shared<const ServerList>(std::move(list))) {
  if (rules.perMinute) postLimit_.emplace(*rules.perMinute);
}

bool Site::refuseOverLimit(const httplib::Request& request, httplib::Response& response) {
  if (!postLimit_ || request.method != "POST" || request.path != "/zelvor") return false;
  const std::string address = clientAddress(
      request.remote_addr, request.get_header_value("X-Forwarded-For"), trustedProxy_);
  const std::optional<long> wait = postLimit_->take(address, PostLimit::Clock::now());
  if (!wait) return false;
  response.status = 429;
  response.set_header("Retry-After", std::to_string(*wait));
  response.set_content(
      "Too many reports from " + address + "; try again in " + std::to_string(*wait) + " seconds\n",
      textType);
  // The report is left unread.
  HttpServer::closeAfterReply();
  return true;
}

void Site::install(httplib::Server& server, std::size_t maxBodyBytes) {
  server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Content-Security-Policy", std::string(contentSecurityPolicy)}});
  server.set_pre_routing_handler([this, maxBodyBytes](const auto& request, auto& response) {
    if (refuseOverLimit(request, response)) return httplib::Server::HandlerResponse::Handled;
    return refuseLargeBody(request, response, maxBodyBytes);
  });
  server.set_exception_handler(answerFailure);
  // Unknown addresses get the not-found page; other failures keep the
  // text their handler gave.
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (response.status != 404 || !response.body.empty())
          return httplib::Server::HandlerResponse::Unhandled;
        notFound(response);
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_logger(logRequest);

  server.Get("/zv_fetch",
             [this](const auto& request, auto& response) { fetchList(request, response); });
  server.Post("/zelvor",
              [this](const auto& request, auto& response) { postReport(request, response); });
  server.Get("/zelvor", [this](const auto& request, auto& response) {
    showResults(request, response, resultsPage, htmlType);
  });
  server.Get("/zelvor.json", [this](const auto& request, auto& response) {
    showResults(request, response, resultsJson, jsonType);
  });
  server.Get("/zelvor.csv", [this](const auto& request, auto& response) {
    showResults(request, response, resultsCsv, csvType);
  });
  server.Get("/", [this](const auto& request, auto& response) { showIndex(request, response); });
  // A load balancer's check: 200 only while the store answers, 503 (from
  // the store's failure) otherwise.
  server.Get("/health", [this](const auto&, auto& response) {
    store_.check();
    response.set_header("Cache-Control", "no-store");
    response.set_content("ok\n", textType);
  });
  server.Get(std::string(styleSheetPath), [](const auto&, auto& response) {
    response.set_content(std::string(styleSheet()), cssType);
  });
  // Browsers ask for it on their own; without it every page view logs a
  // failed request in the browser.
  server.Get("/favicon.ico", [](const auto&, auto& response) {
    const auto icon = embedded::siteIcon();
    response.set_header("Cache-Control", "max-age=86400");
    response.set_content(std::string(icon.begin(), icon.end()), "image/x-icon");
  });
}

void Site::replaceList(ServerList list) {
  auto replacement = std::make_shared<const ServerList>(std::move(list));
  const std::lock_guard lock(listMutex_);
  list_.swap(replacement);
}

std::shared_ptr<const ServerList> Site::currentList() const {
  const std::lock_guard lock(listMutex_);
  return list_;
}

void Site::fetchList(const httplib::Request&, httplib::Response& response) const {
  response.set_content(currentList()->body, textType);
}

void Site::postReport(const httplib::Request& request, httplib::Response& response) {
  ServerClass measured;
  try {
    measured = parseReport(request.body);
  } catch (const kelvo::Failure& reason) {
    response.status = 400;
    response.set_content(reason + "\n", textType);
    return;
  }
  const NewRun run{measured.name,
                   request.body,
                   unixNowMs(),
                   stats::runMedian(measured),
                   measured.servers.size(),
                   sampleCount(measured),
                   reportDigest(request.body)};
  // The reply is the handle alone: the program appends it to the results
  // address as it stands.
  response.set_content(store_.addRun(run), textType);
}

void Site::showIndex(const httplib::Request& request, httplib::Response& response) {
  IndexView index;
  index.runCount = store_.runCount();
  index.pageCount = std::max<std::size_t>(1, (index.runCount + runsPerPage - 1) / runsPerPage);
  const auto page = pageNumber(request.get_param_value("page"), index.pageCount);
  if (!page) return notFound(response);
  index.page = *page;
  index.runs = store_.recentRuns((index.page - 1) * runsPerPage, runsPerPage);
  response.set_header("Cache-Control", "no-cache");
  response.set_content(indexPage(index), htmlType);
}

template <class Render>
void Site::showResults(const httplib::Request& request, httplib::Response& response, Render render,
                       const char* contentType) {
  const std::string handle = request.get_param_value("handle");
  // Anything else is not looked up at all.
  if (!isHandleShape(handle)) return notFound(response);
  const std::optional<StoredRun> run = store_.findRun(handle);
  if (!run) return notFound(response);
  const ResultsView results = buildResults(*run, store_.classHistory(handle, trendRuns));
  // Moved in rather than given to set_content, which would copy the page.
  response.body = render(results);
  response.set_header("Content-Type", contentType);
}

}  // namespace zelvor::site
