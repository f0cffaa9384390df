// A post the site did not take: the reason both front ends give, and where
// the report went, for each way the post and the keeping can fail.
#include "app/failed_post.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <new>
#include <string>

#include "app/string_ids.hpp"
#include "support/failure.hpp"

namespace {

namespace text = zelvor::text;

std::string textOf(std::uint32_t id) {
  static const std::map<std::uint32_t, std::string> texts = {
      {text::connectError, "Error connecting to "},
      {text::resultsRefused, "Site refused the results: "},
      {text::resultsKept, "Kept in"},
      {text::resultsLost, "Lost:"},
  };
  return texts.at(id);
}

TEST(FailedPost, RefusalNamesTheStatusAnythingElseTheSite) {
  struct Case {
    const char* failure;
    zelvor::SiteAddress site;
    bool refused;
    const char* reason;
  };
  const Case cases[] = {
      {"HTTP Failure: 413", {"site.test", 80}, true, "Site refused the results: HTTP Failure: 413"},
      {"HTTP Failure: 503",
       {"site.test", 8080},
       true,
       "Site refused the results: HTTP Failure: 503"},
      {"Socket error 111", {"site.test", 8080}, false, "Error connecting to site.test:8080"},
      {"Bad HTTP Response: ", {"10.0.0.1", 80}, false, "Error connecting to 10.0.0.1"},
      // Only the whole prefix is a status the site sent.
      {"HTTP Failure:", {"h", 80}, false, "Error connecting to h"},
      {"http failure: 400", {"h", 80}, false, "Error connecting to h"},
      {"", {"h", 80}, false, "Error connecting to h"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failure);
    const zelvor::PostFailure failure = zelvor::postFailure(c.failure, c.site, textOf);
    EXPECT_EQ(failure.refused, c.refused);
    EXPECT_EQ(failure.reason, c.reason);
  }
}

TEST(FailedPost, ReportIsKeptOrSaidLostWithWhy) {
  struct Case {
    const char* what;
    std::function<std::string()> keep;
    const char* fate;
    const char* fateDetail;
  };
  int kept = 0;
  const Case cases[] = {
      {"kept", [&] { return "/data/unsent/" + std::to_string(++kept) + ".report"; }, "Kept in",
       "/data/unsent/1.report"},
      {"disk full", [&]() -> std::string { throw kelvo::Failure("/data/unsent: No space"); },
       "Lost:", "/data/unsent: No space"},
      {"out of memory", [&]() -> std::string { throw std::bad_alloc(); }, "Lost:", "Unknown error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const zelvor::UnpostedReport unposted =
        zelvor::keepUnposted("HTTP Failure: 400", {"site.test", 81}, c.keep, textOf);
    EXPECT_TRUE(unposted.failure.refused);
    EXPECT_EQ(unposted.failure.reason, "Site refused the results: HTTP Failure: 400");
    EXPECT_EQ(unposted.fate, c.fate);
    EXPECT_EQ(unposted.fateDetail, c.fateDetail);
  }
  EXPECT_EQ(kept, 1);
}

}  // namespace
