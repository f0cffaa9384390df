#include "site/history_cache.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "site/store_rules.hpp"

namespace zelvor::site {

namespace {

bool selects(const PointQuery& query, const std::string& host,
             const std::optional<std::string>& label) {
  return (!query.host || host == *query.host) && (!query.label || label == query.label);
}

}  // namespace

std::size_t HistoryCache::weightOf(const Lines& lines) {
  std::size_t weight = 1;
  for (const Line& line : lines) weight += line.tally.counts().size() + 1;
  return weight;
}

HistoryCache::HistoryCache(std::size_t capacity) : capacity_(capacity) {}

void HistoryCache::gather(Store& store, const PointQuery& query, std::int64_t nowMs,
                          HistoryBuilder& points) {
  const HistoryWindow& window = points.window();
  const std::int64_t width = window.bucketMs;
  const std::int64_t settledEnd =
      std::clamp(floorDivide(nowMs - settledAfterMs, width) * width, window.startMs, window.endMs);
  // Before any point is read: see Store::historyChanges.
  const std::int64_t changes = store.historyChanges();
  const bool mayKeep = agreeOn(changes);

  const auto add = [&](std::int64_t startMs, const Lines& lines) {
    for (const Line& line : lines)
      if (selects(query, line.host, line.label))
        points.add(startMs, line.host, line.label, line.tally);
  };
  const Key first{query.className, width, window.startMs};
  std::vector<std::size_t> missing;
  const auto found =
      summed(first, static_cast<std::size_t>((settledEnd - window.startMs) / width), missing);
  for (std::size_t i = 0; i < found.size(); ++i)
    if (found[i]) add(window.startMs + static_cast<std::int64_t>(i) * width, *found[i]);

  // The missing buckets a stretch at a time: one read each.
  for (std::size_t begin = 0; begin < missing.size();) {
    std::size_t end = begin + 1;
    while (end < missing.size() && missing[end] == missing[end - 1] + 1) ++end;
    const std::int64_t fromMs = window.startMs + static_cast<std::int64_t>(missing[begin]) * width;
    std::vector<Lines> sums = sumFromStore(store, query.className, width, fromMs,
                                           fromMs + static_cast<std::int64_t>(end - begin) * width);
    for (std::size_t i = 0; i < sums.size(); ++i) {
      const std::int64_t startMs = fromMs + static_cast<std::int64_t>(i) * width;
      add(startMs, sums[i]);
      if (mayKeep)
        keep({query.className, width, startMs}, std::make_shared<const Lines>(std::move(sums[i])),
             changes);
    }
    begin = end;
  }

  if (settledEnd == window.endMs) return;
  PointQuery recent = query;
  recent.fromMs = settledEnd;
  recent.toMs = window.endMs;
  store.visitHostPoints(recent, [&](const HostPointView& point) { points.add(point); });
}

bool HistoryCache::agreeOn(std::int64_t changes) {
  const std::lock_guard lock(mutex_);
  if (changes > changes_) {
    sums_.clear();
    kept_.clear();
    weight_ = 0;
    changes_ = changes;
  }
  return changes == changes_;
}

std::vector<std::shared_ptr<const HistoryCache::Lines>> HistoryCache::summed(
    const Key& first, std::size_t buckets, std::vector<std::size_t>& missing) {
  std::vector<std::shared_ptr<const Lines>> found(buckets);
  Key key = first;
  const std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < buckets; ++i, key.startMs += key.bucketMs) {
    const auto kept = sums_.find(key);
    if (kept == sums_.end()) {
      missing.push_back(i);
    } else {
      found[i] = kept->second;
    }
  }
  return found;
}

std::vector<HistoryCache::Lines> HistoryCache::sumFromStore(Store& store,
                                                            const std::string& className,
                                                            std::int64_t width, std::int64_t fromMs,
                                                            std::int64_t toMs) const {
  std::vector<Lines> sums(static_cast<std::size_t>((toMs - fromMs) / width));
  const PointQuery every{className, std::nullopt, std::nullopt, fromMs, toMs};
  store.visitHostPoints(every, [&](const HostPointView& point) {
    Lines& lines = sums[static_cast<std::size_t>((point.measuredAtMs - fromMs) / width)];
    auto line = std::find_if(lines.begin(), lines.end(), [&](const Line& known) {
      return known.host == point.host && known.label == point.label;
    });
    if (line == lines.end()) {
      lines.push_back({std::string(point.host),
                       point.label ? std::optional<std::string>(*point.label) : std::nullopt,
                       {}});
      line = std::prev(lines.end());
    }
    line->tally.addRun(point.echoes, point.lost, point.roundTrips);
  });
  return sums;
}

void HistoryCache::keep(Key key, std::shared_ptr<const Lines> lines, std::int64_t changes) {
  const std::size_t weight = weightOf(*lines);
  const std::lock_guard lock(mutex_);
  if (changes != changes_ || sums_.contains(key)) return;
  sums_.emplace(key, std::move(lines));
  kept_.push_back(std::move(key));
  weight_ += weight;
  while (weight_ > capacity_ && !kept_.empty()) {
    const auto oldest = sums_.find(kept_.front());
    weight_ -= weightOf(*oldest->second);
    sums_.erase(oldest);
    kept_.pop_front();
  }
}

}  // namespace zelvor::site
