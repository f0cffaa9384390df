#include "site/history_downloads.hpp"

#include <cstdint>
#include <optional>

#include "stats/host_downloads.hpp"

namespace zelvor::site {

namespace {

using Json = stats::DownloadJson;

template <class Number>
Json numberOrNull(const std::optional<Number>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json labelOrNull(const std::optional<std::string>& label) {
  return label ? Json(*label) : Json(nullptr);
}

void addFigures(Json& object, const PooledFigures& f) {
  object["runs"] = f.runs;
  object["sent"] = f.echoes;
  object["received"] = f.echoes - f.lost;
  object["loss_percent"] = numberOrNull(f.lossPercent());
  object["p10_ms"] = numberOrNull(f.p10);
  object["p25_ms"] = numberOrNull(f.p25);
  object["median_ms"] = numberOrNull(f.median);
  object["p75_ms"] = numberOrNull(f.p75);
  object["p90_ms"] = numberOrNull(f.p90);
  object["p95_ms"] = numberOrNull(f.p95);
}

Json figuresOf(const PooledFigures& figures) {
  Json object = Json::object();
  addFigures(object, figures);
  return object;
}

Json bucketsOf(const HistorySeries& series) {
  Json buckets = Json::array();
  for (const Bucket& bucket : series.buckets) {
    if (bucket.figures.runs == 0) continue;
    Json object{{"start_ms", bucket.startMs}};
    addFigures(object, bucket.figures);
    buckets.push_back(std::move(object));
  }
  return buckets;
}

void addWindow(Json& document, const HistoryWindow& window) {
  document["range"] = rangeName(window.range);
  document["start_ms"] = window.startMs;
  document["end_ms"] = window.endMs;
  document["bucket_ms"] = window.bucketMs;
}

std::string dumped(const Json& document) {
  // Names are bytes from a report; invalid UTF-8 becomes U+FFFD, not a throw.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

}  // namespace

std::string historyJson(const HistoryView& history) {
  Json document{
      {"class", history.className}, {"host", history.host}, {"label", labelOrNull(history.label)}};
  addWindow(document, history.window);
  Json series = Json::array();
  for (const HistorySeries& one : history.series)
    series.push_back(Json{{"label", labelOrNull(one.label)},
                          {"overall", figuresOf(one.overall)},
                          {"buckets", bucketsOf(one)}});
  document["series"] = std::move(series);
  return dumped(document);
}

std::string classJson(const ClassView& overview) {
  Json document{{"class", overview.className}};
  addWindow(document, overview.window);
  Json hosts = Json::array();
  for (const HistorySeries& host : overview.hosts)
    hosts.push_back(Json{
        {"host", host.host}, {"overall", figuresOf(host.overall)}, {"buckets", bucketsOf(host)}});
  document["hosts"] = std::move(hosts);
  Json labels = Json::array();
  for (std::size_t first = 0; first < overview.labelled.size();) {
    const std::optional<std::string>& label = overview.labelled[first].label;
    Json rows = Json::array();
    std::size_t end = first;
    for (; end < overview.labelled.size() && overview.labelled[end].label == label; ++end)
      rows.push_back(Json{{"host", overview.labelled[end].host},
                          {"overall", figuresOf(overview.labelled[end].overall)}});
    labels.push_back(Json{{"label", labelOrNull(label)}, {"hosts", std::move(rows)}});
    first = end;
  }
  document["labels"] = std::move(labels);
  return dumped(document);
}

}  // namespace zelvor::site
