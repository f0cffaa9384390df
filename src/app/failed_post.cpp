#include "app/failed_post.hpp"

#include "app/failure_text.hpp"
#include "app/string_ids.hpp"
#include "net/http_client.hpp"

namespace zelvor {

PostFailure postFailure(std::string_view failure, const SiteAddress& site, const TextOf& textOf) {
  if (failure.starts_with(httpFailurePrefix))
    return {true, textOf(text::resultsRefused) + std::string(failure)};
  return {false, textOf(text::connectError) + siteAuthority(site)};
}

UnpostedReport keepUnposted(std::string_view failure, const SiteAddress& site,
                            const std::function<std::string()>& keep, const TextOf& textOf) {
  UnpostedReport unposted;
  // Kept before anything else is done, so that nothing after can lose it.
  try {
    unposted.fateDetail = keep();
    unposted.fate = textOf(text::resultsKept);
  } catch (...) {
    unposted.fate = textOf(text::resultsLost);
    unposted.fateDetail = currentFailureText();
  }
  unposted.failure = postFailure(failure, site, textOf);
  return unposted;
}

}  // namespace zelvor
