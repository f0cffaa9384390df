#include "site/site.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <variant>

#include "catalogue/report.hpp"
#include "catalogue/vantage_label.hpp"
#include "site/embedded_files.hpp"
#include "site/handle.hpp"
#include "site/history.hpp"
#include "site/history_downloads.hpp"
#include "site/history_page.hpp"
#include "site/host_summary.hpp"
#include "site/index_page.hpp"
#include "site/not_found_page.hpp"
#include "site/page_frame.hpp"
#include "site/page_paths.hpp"
#include "site/post_query.hpp"
#include "site/query.hpp"
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
constexpr char iconType[] = "image/x-icon";
constexpr char metricsType[] = "text/plain; version=0.0.4; charset=utf-8";

// Every reply, refusals included, goes out with these: nothing is sniffed
// into another type, no address leaks to another site, nothing runs.
Reply replyOf(int status, std::string body, const char* contentType) {
  Reply reply;
  reply.status = status;
  reply.headers = {{"X-Content-Type-Options", "nosniff"},
                   {"Referrer-Policy", "no-referrer"},
                   {"Content-Security-Policy", std::string(contentSecurityPolicy)},
                   {"Content-Type", contentType}};
  reply.body = std::move(body);
  return reply;
}

Reply notFound() { return replyOf(404, notFoundPage(), htmlType); }

// A refusal sent before the request's body is read: what follows on the
// connection is that body, not a request.
Reply refusalClosing(int status, std::string text) {
  Reply reply = replyOf(status, std::move(text), textType);
  reply.close = true;
  return reply;
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

// The history's range, from "range", ending at `nowMs`: none when it names
// none.
std::optional<HistoryWindow> windowOf(const Request& request, std::int64_t nowMs) {
  const std::optional<HistoryRange> range = parseRange(queryValue(request.query, "range"));
  if (!range) return std::nullopt;
  return historyWindow(*range, nowMs);
}

// A history or class page: drawn anew each time, since its range ends now.
Reply historyReply(std::string body, const char* contentType) {
  Reply reply = replyOf(200, std::move(body), contentType);
  reply.headers.emplace_back("Cache-Control", "no-cache");
  return reply;
}

// Whatever answering threw: the store's failures mean the site cannot
// answer now; anything else is a fault of ours.
Reply failureReply(const Request& request, std::exception_ptr failure) {
  std::string text = "unknown failure";
  int status = 500;
  try {
    std::rethrow_exception(failure);
  } catch (const kelvo::Failure& storeFailure) {
    text = storeFailure;
    status = 503;
  } catch (const std::bad_alloc&) {
    text = "out of memory";
    status = 503;
  } catch (const std::exception& other) {
    text = other.what();
  } catch (...) {
  }
  logFailure(request, text);
  if (status == 500) return replyOf(500, "The site failed to answer this request\n", textType);
  return Site::busy();
}

}  // namespace

Site::Site(Store& store, ServerList list, const PostRules& rules, MetricsRules metricsRules)
    : store_(store),
      trustedProxy_(rules.trustedProxy),
      maxReportBytes_(rules.maxReportBytes),
      metricsFrom_(std::move(metricsRules.from)),
      list_(std::move(list)) {
  if (rules.perMinute) postLimit_.emplace(*rules.perMinute);
}

std::optional<Reply> Site::screen(const Request& head) {
  std::optional<Reply> refusal = refusalOf(head);
  if (refusal) countRefusal(*refusal);
  return refusal;
}

std::optional<Reply> Site::refusalOf(const Request& head) {
  if (postLimit_ && head.method == "POST" && head.path == resultsPath) {
    const std::string address = clientAddress(head.peer, head.forwardedFor, trustedProxy_);
    if (const std::optional<long> wait = postLimit_->take(address, PostLimit::Clock::now())) {
      Reply reply = refusalClosing(429, "Too many reports from " + address + "; try again in " +
                                            std::to_string(*wait) + " seconds\n");
      reply.headers.emplace_back("Retry-After", std::to_string(*wait));
      return reply;
    }
  }
  // Reading a body only to throw it away would let anyone keep the site
  // busy. A body of unknown length (chunked) is refused too: its length is
  // known only once it has all been read, and the program always declares it.
  if (head.chunked) return refusalClosing(411, "A report must come with its Content-Length\n");
  if (head.contentLength && *head.contentLength > maxReportBytes_)
    return refusalClosing(413, "The report is longer than the " + std::to_string(maxReportBytes_) +
                                   " bytes this site takes\n");
  return std::nullopt;
}

Reply Site::answer(const Request& request) {
  const auto arrived = std::chrono::steady_clock::now();
  Reply reply;
  try {
    reply = route(request);
  } catch (...) {
    reply = failureReply(request, std::current_exception());
  }
  metrics_.countRequest(reply.status, std::chrono::duration_cast<Metrics::Duration>(
                                          std::chrono::steady_clock::now() - arrived));
  return reply;
}

void Site::countRefusal(const Reply& reply) { metrics_.countRefusal(reply.status); }

Reply Site::busy() {
  Reply reply = replyOf(503, "The site cannot answer just now; try again in a while\n", textType);
  // What a balancer or a patient client waits before asking again.
  reply.headers.emplace_back("Retry-After", "5");
  return reply;
}

Reply Site::malformed() { return refusalClosing(400, "The request does not read as HTTP\n"); }

Reply Site::route(const Request& request) {
  if (request.method == "POST") {
    if (request.path == resultsPath) return postReport(request);
    return notFound();
  }
  // A HEAD is answered as its GET; the server leaves the body out.
  if (request.method != "GET" && request.method != "HEAD") return notFound();
  const std::string& path = request.path;
  if (path == "/zv_fetch") return replyOf(200, list_.current()->body, textType);
  if (path == resultsPath) return showResults(request, resultsPage, htmlType);
  if (path == resultsJsonPath) return showResults(request, resultsJson, jsonType);
  if (path == resultsCsvPath) return showResults(request, resultsCsv, csvType);
  if (path == historyPath) return showHistory(request, historyPage, htmlType);
  if (path == historyJsonPath) return showHistory(request, historyJson, jsonType);
  if (path == classPath) return showClass(request, classPage, htmlType);
  if (path == classJsonPath) return showClass(request, classJson, jsonType);
  if (path == "/") return showIndex(request);
  if (path == "/metrics") return showMetrics(request);
  if (path == "/health") {
    // A load balancer's check: 200 only while the store answers, 503 (from
    // the store's failure) otherwise.
    store_.check();
    Reply reply = replyOf(200, "ok\n", textType);
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
  }
  if (path == styleSheetPath) return replyOf(200, std::string(styleSheet()), cssType);
  if (path == "/favicon.ico") {
    // Browsers ask for it on their own; without it every page view logs a
    // failed request in the browser.
    const auto icon = embedded::siteIcon();
    Reply reply = replyOf(200, std::string(icon.begin(), icon.end()), iconType);
    reply.headers.emplace_back("Cache-Control", "max-age=86400");
    return reply;
  }
  // Results pages are for the people who measured, not for crawlers.
  if (path == "/robots.txt") {
    const auto robots = embedded::robotsText();
    return replyOf(200, std::string(robots.begin(), robots.end()), textType);
  }
  return notFound();
}

void Site::replaceList(ServerList list) { list_.replace(std::move(list)); }

void Site::replaceNetworks(Networks networks) { networks_.replace(std::move(networks)); }

Reply Site::postReport(const Request& request) {
  const std::int64_t nowMs = unixNowMs();
  auto query = readPostQuery(request.query, nowMs);
  if (auto* refusal = std::get_if<std::string>(&query))
    return replyOf(400, std::move(*refusal), textType);
  PostQuery& post = std::get<PostQuery>(query);
  // The client's own word wins; the address is only looked up, never kept.
  if (!post.label)
    post.label = networks_.current()->labelOf(
        clientAddress(request.peer, request.forwardedFor, trustedProxy_));
  ServerClass measured;
  try {
    measured = parseReport(request.body);
  } catch (const kelvo::Failure& reason) {
    return replyOf(400, reason + "\n", textType);
  }
  std::string digest = postDigest(request.body, post.label, post.measuredAtMs);
  const NewRun run{measured.name,
                   request.body,
                   nowMs,
                   stats::runMedian(measured),
                   measured.servers.size(),
                   sampleCount(measured),
                   std::move(digest),
                   std::move(post.label),
                   post.measuredAtMs.value_or(nowMs),
                   packHostSummaries(measured)};
  std::string handle = store_.addRun(run);
  metrics_.countReport(measured, run.label, *list_.current());
  // The reply is the handle alone: the program appends it to the results
  // address as it stands.
  return replyOf(200, std::move(handle), textType);
}

Reply Site::showMetrics(const Request& request) const {
  const std::string address = clientAddress(request.peer, request.forwardedFor, trustedProxy_);
  const auto allowed = [&](const AddressRange& range) { return range.contains(address); };
  if (std::none_of(metricsFrom_.begin(), metricsFrom_.end(), allowed))
    return replyOf(403, "The metrics are not served to this address\n", textType);
  Reply reply = replyOf(200, metrics_.render(), metricsType);
  reply.headers.emplace_back("Cache-Control", "no-store");
  return reply;
}

Reply Site::showIndex(const Request& request) {
  IndexView index;
  // An empty parameter filters nothing.
  for (auto [name, part] :
       {std::pair{"class", &RunFilter::className}, {"label", &RunFilter::label}})
    if (std::string value = queryValue(request.query, name); !value.empty())
      index.filter.*part = std::move(value);
  index.runCount = store_.runCount(index.filter);
  index.pageCount = std::max<std::size_t>(1, (index.runCount + runsPerPage - 1) / runsPerPage);
  const auto page = pageNumber(queryValue(request.query, "page"), index.pageCount);
  if (!page) return notFound();
  index.page = *page;
  index.runs = store_.recentRuns(index.filter, (index.page - 1) * runsPerPage, runsPerPage);
  Reply reply = replyOf(200, indexPage(index), htmlType);
  reply.headers.emplace_back("Cache-Control", "no-cache");
  return reply;
}

template <class Render>
Reply Site::showResults(const Request& request, Render render, const char* contentType) {
  const std::string handle = queryValue(request.query, "handle");
  // Anything else is not looked up at all.
  if (!isHandleShape(handle)) return notFound();
  const std::optional<StoredRun> run = store_.findRun(handle);
  if (!run) return notFound();
  return replyOf(200, render(buildResults(*run, store_.classHistory(handle, trendRuns))),
                 contentType);
}

}  // namespace zelvor::site

namespace zelvor::site {

std::optional<HistoryBuilder> Site::pointsOf(const Request& request, PointQuery& query) {
  const std::int64_t nowMs = unixNowMs();
  const std::optional<HistoryWindow> window = windowOf(request, nowMs);
  if (!window) return std::nullopt;
  query.fromMs = window->startMs;
  query.toMs = window->endMs;
  std::optional<HistoryBuilder> points(std::in_place, *window);
  history_.gather(store_, query, nowMs, *points);
  return points;
}

template <class Render>
Reply Site::showHistory(const Request& request, Render render, const char* contentType) {
  PointQuery query;
  query.className = queryValue(request.query, "class");
  query.host = queryValue(request.query, "host");
  // Names no report can carry are not looked up at all.
  if (!isReportField(query.className) || !isReportField(*query.host)) return notFound();
  if (const std::string label = queryValue(request.query, "label"); !label.empty()) {
    if (!isVantageLabel(label)) return notFound();
    query.label = label;
  }
  const std::optional<HistoryBuilder> points = pointsOf(request, query);
  if (!points) return notFound();
  return historyReply(render(historyView(std::move(query.className), std::move(*query.host),
                                         std::move(query.label), *points)),
                      contentType);
}

template <class Render>
Reply Site::showClass(const Request& request, Render render, const char* contentType) {
  PointQuery query;
  query.className = queryValue(request.query, "name");
  if (!isReportField(query.className)) return notFound();
  const std::optional<HistoryBuilder> points = pointsOf(request, query);
  if (!points) return notFound();
  return historyReply(render(classView(std::move(query.className), *points)), contentType);
}

}  // namespace zelvor::site
