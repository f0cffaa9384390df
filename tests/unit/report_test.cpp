// The results report: exact bytes for sample lines and class blocks.
#include "catalogue/report.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "catalogue/failure_texts.hpp"

namespace {

using zelvor::EchoSample;
using zelvor::ServerClass;
using zelvor::ServerEntry;

EchoSample ok(std::int32_t rtt) { return {nullptr, rtt}; }
EchoSample failed(const char* text, std::int32_t rtt = 0) { return {text, rtt}; }

TEST(FormatClassReport, WritesTheClassBlockByteForByte) {
  const ServerClass serverClass{"A",
                                {{"h1", {ok(23), ok(25), failed(zelvor::failure::timeout)}},
                                 {"h2", {ok(110), ok(98), ok(101)}}}};
  EXPECT_EQ(zelvor::formatClassReport(serverClass),
            "A\nh1:23:\nh1:25:\nh1::TIMEOUT\nh2:110:\nh2:98:\nh2:101:\nEND\n");
}

TEST(FormatClassReport, EntriesWithoutSamplesAddNoLines) {
  EXPECT_EQ(zelvor::formatClassReport({"A", {{"h1", {}}, {"h2", {}}}}), "A\nEND\n");
  EXPECT_EQ(zelvor::formatClassReport({"A", {}}), "A\nEND\n");
  EXPECT_EQ(zelvor::formatClassReport({"A", {{"h1", {}}, {"h2", {ok(5)}}, {"h3", {}}}}),
            "A\nh2:5:\nEND\n");
}

TEST(FormatClassReport, SameHostTwiceGivesTwoRunsInOrder) {
  const ServerClass serverClass{" B ", {{"h1", {ok(1), ok(2)}}, {"h2", {ok(3)}}, {"h1", {ok(4)}}}};
  EXPECT_EQ(zelvor::formatClassReport(serverClass), " B \nh1:1:\nh1:2:\nh2:3:\nh1:4:\nEND\n");
}

struct LinesCase {
  const char* what;
  ServerEntry entry;
  std::string expected;
};

void PrintTo(const LinesCase& linesCase, std::ostream* out) { *out << linesCase.what; }

class FormatServerLines : public testing::TestWithParam<LinesCase> {};

TEST_P(FormatServerLines, WritesOneExactLinePerSample) {
  EXPECT_EQ(zelvor::formatServerLines(GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Samples, FormatServerLines,
                         testing::Values(LinesCase{"no samples", {"h", {}}, ""},
                                         LinesCase{"zero", {"h", {ok(0)}}, "h:0:\n"},
                                         LinesCase{"negative", {"h", {ok(-7)}}, "h:-7:\n"},
                                         LinesCase{"int32 extremes",
                                                   {"h", {ok(INT32_MIN), ok(INT32_MAX)}},
                                                   "h:-2147483648:\nh:2147483647:\n"},
                                         LinesCase{"failure hides rtt",
                                                   {"h", {failed(zelvor::failure::expired, 77)}},
                                                   "h::EXPIRED\n"},
                                         LinesCase{
                                             "spaces kept",
                                             {" h 1 ", {ok(9), failed(zelvor::failure::foreign)}},
                                             " h 1 :9:\n h 1 ::FOREIGN\n"}));

struct FailureCase {
  const char* pointer;
  const char* line;
};

TEST(FailureTexts, EachTextReportsVerbatimAndKeepsItsAddressThroughCopies) {
  using namespace zelvor::failure;
  const FailureCase cases[] = {{badAddress, "h::BADADDRESS\n"}, {sockError, "h::SOCKERROR\n"},
                               {timeout, "h::TIMEOUT\n"},       {expired, "h::EXPIRED\n"},
                               {foreign, "h::FOREIGN\n"},       {unreachable, "h::UNREACHABLE\n"},
                               {badHeader, "h::BADHEADER\n"},   {serviceFailure, "h::FAILURE\n"}};
  for (const FailureCase& failureCase : cases) {
    SCOPED_TRACE(failureCase.line);
    const ServerClass original{"A", {{"h", {failed(failureCase.pointer)}}}};
    const ServerClass copy = original;
    EXPECT_EQ(copy.servers[0].samples[0].failure, failureCase.pointer);
    EXPECT_EQ(zelvor::formatServerLines(copy.servers[0]), failureCase.line);
  }
}

}  // namespace
