#include "site/post_limit.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "site/address_range.hpp"

namespace zelvor::site {

double PostLimit::earned(const Bucket& bucket, Clock::time_point now) const {
  const double minutes = std::chrono::duration<double, std::ratio<60>>(now - bucket.at).count();
  return std::min<double>(perMinute_, bucket.posts + std::max(0.0, minutes) * perMinute_);
}

std::optional<long> PostLimit::take(const std::string& client, Clock::time_point now) {
  const std::string address = clientNetwork(client);
  const std::lock_guard lock(mutex_);
  if (buckets_.size() >= maxAddresses && !buckets_.contains(address)) {
    std::erase_if(buckets_,
                  [&](const auto& entry) { return earned(entry.second, now) >= perMinute_; });
  }
  const auto [entry, added] = buckets_.try_emplace(address, Bucket{double(perMinute_), now});
  Bucket& bucket = entry->second;
  bucket.posts = earned(bucket, now);
  bucket.at = now;
  if (bucket.posts >= 1) {
    bucket.posts -= 1;
    return std::nullopt;
  }
  const double seconds = (1 - bucket.posts) * 60 / perMinute_;
  return std::max(1L, static_cast<long>(std::ceil(seconds)));
}

std::string clientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::string& trustedProxy) {
  if (trustedProxy.empty() || peer != trustedProxy || forwardedFor.empty()) return peer;
  std::string_view last = forwardedFor.substr(forwardedFor.rfind(',') + 1);
  const auto space = [](char c) { return c == ' ' || c == '\t'; };
  while (!last.empty() && space(last.front())) last.remove_prefix(1);
  while (!last.empty() && space(last.back())) last.remove_suffix(1);
  return last.empty() ? peer : std::string(last);
}

std::optional<unsigned> parsePostLimit(std::string_view text) {
  constexpr std::string_view unit = "/min";
  if (!text.ends_with(unit)) return std::nullopt;
  text.remove_suffix(unit.size());
  unsigned count = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count);
  if (text.empty() || error != std::errc() || stop != end || count < 1 || count > 1'000'000)
    return std::nullopt;
  return count;
}

}  // namespace zelvor::site
