#include "site/post_query.hpp"

#include "catalogue/vantage_label.hpp"
#include "site/query.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

// A refusal repeats what it refuses, cut short and with anything but
// printable ASCII replaced: the reply is text a person reads.
std::string quoted(std::string_view given) {
  constexpr std::size_t shown = 80;
  std::string text = "\"";
  for (const char c : given.substr(0, shown)) text += (c >= ' ' && c <= '~') ? c : '?';
  if (given.size() > shown) text += "...";
  return text + '"';
}

}  // namespace

std::variant<PostQuery, std::string> readPostQuery(std::string_view query, std::int64_t nowMs) {
  PostQuery post;
  post.label = givenQueryValue(query, "label");
  if (post.label && !isVantageLabel(*post.label))
    return "The label " + quoted(*post.label) + " is not " + vantageLabelShape + "\n";

  if (const std::optional<std::string> given = givenQueryValue(query, "measured_at")) {
    post.measuredAtMs = kelvo::parseIsoUtcTime(*given);
    if (!post.measuredAtMs)
      return "The measured time " + quoted(*given) + " is not a UTC time such as " +
             kelvo::isoUtcTime(nowMs) + "\n";
    if (*post.measuredAtMs < nowMs - oldestMeasuredAgeMs)
      return "The measured time " + *given + " is more than 30 days before this site's clock (" +
             kelvo::isoUtcTime(nowMs) + ")\n";
    if (*post.measuredAtMs > nowMs + furthestMeasuredAheadMs)
      return "The measured time " + *given + " is more than 5 minutes after this site's clock (" +
             kelvo::isoUtcTime(nowMs) + ")\n";
  }
  return post;
}

}  // namespace zelvor::site
