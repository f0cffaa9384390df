// resourceString over the program's string table and the tests' own entries.
#include "support/resource_string.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/failure.hpp"

namespace {

struct Entry {
  std::uint32_t id;
  const char* text;
};

class ProgramStrings : public testing::TestWithParam<Entry> {};

TEST_P(ProgramStrings, HaveTheirFixedTexts) {
  EXPECT_EQ(kelvo::resourceString(GetParam().id), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramStrings,
    testing::Values(
        Entry{202, "/zv_fetch"}, Entry{203, "/zelvor"}, Entry{210, "Quorvane Zelvor v2.1"},
        Entry{211, "Perform latency test"}, Entry{212, "Fetching data from Quorvane"},
        Entry{213, "Posting results to Quorvane"},
        Entry{214, "Select the class of servers for computing latency"}, Entry{215, "Exit Zelvor"},
        Entry{220, "Error connecting to "}, Entry{221, "Unable to launch default browser"},
        Entry{222, "Bad network configuration"}, Entry{223, "Quorvane refused the results: "},
        Entry{224, "The results were kept in the file"},
        Entry{225, "The results could not be kept and are lost:"}));

TEST(ResourceString, ResultsAddressIsOnTheSiteHost) {
  const std::string host = kelvo::resourceString(201);
  EXPECT_FALSE(host.empty());
  EXPECT_EQ(kelvo::resourceString(204), "http://" + host + "/zelvor?handle=");
}

TEST(ResourceString, ReturnsAtMost128Characters) {
  const std::string lower = "abcdefghijklmnopqrstuvwxyz";
  const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string exactly128, first128Of200;
  for (std::size_t i = 0; i < 128; ++i) {
    exactly128 += lower[i % 26];
    first128Of200 += upper[i % 26];
  }
  EXPECT_EQ(kelvo::resourceString(976), exactly128);
  EXPECT_EQ(kelvo::resourceString(977), first128Of200);
}

TEST(ResourceString, ReadsDoubledQuotesAsOneQuote) {
  EXPECT_EQ(kelvo::resourceString(978), "say \"hi\"; twice");
}

TEST(ResourceString, MissingIdThrowsUnknownResourceId) {
  for (const std::uint32_t id : {999u, 0u, 205u}) {
    try {
      kelvo::resourceString(id);
      ADD_FAILURE() << "no failure for id " << id;
    } catch (const kelvo::Failure& failure) {
      EXPECT_EQ(failure, "Unknown resource id " + std::to_string(id));
    }
  }
}

}  // namespace
