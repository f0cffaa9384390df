// parseReport: what the program writes reads back exactly; anything else is
// refused with the number of the line at fault.
#include <gtest/gtest.h>

#include <string>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "support/failure.hpp"

namespace {

using namespace std::string_literals;

TEST(ParseReport, ReadsWhatTheWriterWroteBackToTheSameText) {
  const zelvor::ServerClass measured{
      " A b ",
      {{"h1", {{nullptr, 23}, {nullptr, 0}, {zelvor::failure::timeout, 5}}},
       {"h<2>", {{nullptr, -7}, {nullptr, INT32_MAX}, {nullptr, INT32_MIN}}},
       {"h1", {{zelvor::failure::serviceFailure, 0}}}}};
  const std::string report = zelvor::formatClassReport(measured);
  const zelvor::ServerClass parsed = zelvor::parseReport(report);
  EXPECT_EQ(parsed.name, " A b ");
  ASSERT_EQ(parsed.servers.size(), 3u);
  EXPECT_EQ(parsed.servers[1].host, "h<2>");
  EXPECT_EQ(parsed.servers[1].samples[2].rtt, INT32_MIN);
  // Failures point at the constants themselves.
  EXPECT_EQ(parsed.servers[0].samples[2].failure, zelvor::failure::timeout);
  EXPECT_EQ(parsed.servers[2].samples[0].failure, zelvor::failure::serviceFailure);
  EXPECT_EQ(zelvor::formatClassReport(parsed), report);
}

TEST(ParseReport, EveryFailureWordReads) {
  for (const char* word : zelvor::failure::all) {
    const auto parsed = zelvor::parseReport("A\nh::"s + word + "\nEND\n");
    EXPECT_EQ(parsed.servers.at(0).samples.at(0).failure, word);
  }
}

TEST(ParseReport, ConsecutiveLinesOfOneHostAreOneEntryAndAClassMayBeEmpty) {
  const auto parsed = zelvor::parseReport("A\nh:1:\nh:2:\ng:3:\nh:4:\nEND\n");
  ASSERT_EQ(parsed.servers.size(), 3u);
  EXPECT_EQ(parsed.servers[0].samples.size(), 2u);
  EXPECT_EQ(parsed.servers[2].host, "h");
  EXPECT_TRUE(zelvor::parseReport("END\nEND\n").servers.empty());
}

struct Refusal {
  const char* what;
  std::string report;
  std::string reason;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.what; }

class ParseReportRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(ParseReportRefuses, WithTheLineAndTheReason) {
  try {
    zelvor::parseReport(GetParam().report);
    FAIL() << "accepted";
  } catch (const kelvo::Failure& reason) {
    EXPECT_EQ(reason, GetParam().reason);
  }
}

const std::string longField(128, 'x');

INSTANTIATE_TEST_SUITE_P(
    Layout, ParseReportRefuses,
    testing::Values(
        Refusal{"empty", "", "line 1: the report is empty"},
        Refusal{"no END", "A\nh:1:\n", "line 3: the report ends without END"},
        Refusal{"END without line feed", "A\nh:1:\nEND",
                "line 3: the line does not end with a line feed"},
        Refusal{"text after END", "A\nEND\nh:1:\n", "line 3: text after END"},
        Refusal{"blank line", "A\n\nEND\n", "line 2: a sample line is host:rtt: or host::WORD"},
        Refusal{"CR LF", "A\r\nh:1:\r\nEND\r\n",
                "line 1: lines end with a line feed alone, not CR LF"},
        Refusal{"NUL", "A\nh:1:\0\nEND\n"s, "line 2: the line holds a control character"},
        Refusal{"tab in host", "A\nh\t:1:\nEND\n", "line 2: the line holds a control character"},
        Refusal{"empty class", "\nEND\n", "line 1: the class name is empty"},
        Refusal{"colon in class", "A:B\nEND\n", "line 1: the class name holds a colon"},
        Refusal{"128-byte class", longField + "\nEND\n",
                "line 1: the class name is longer than 127 bytes"},
        Refusal{"128-byte host", "A\n" + longField + ":1:\nEND\n",
                "line 2: the host is longer than 127 bytes"},
        Refusal{"empty host", "A\n:1:\nEND\n", "line 2: the host is empty"},
        Refusal{"two fields", "A\nh:1\nEND\n", "line 2: a sample line is host:rtt: or host::WORD"},
        Refusal{"four fields", "A\nh:1::\nEND\n",
                "line 2: a sample line is host:rtt: or host::WORD"},
        Refusal{"neither", "A\nh::\nEND\n",
                "line 2: a sample has either a round trip or a failure word"},
        Refusal{"both", "A\nh:1:TIMEOUT\nEND\n",
                "line 2: a sample has either a round trip or a failure word"},
        Refusal{"unknown word", "A\nh::LOST\nEND\n", "line 2: unknown failure word"},
        Refusal{"word in lower case", "A\nh::timeout\nEND\n", "line 2: unknown failure word"}));

INSTANTIATE_TEST_SUITE_P(
    RoundTrips, ParseReportRefuses,
    testing::Values(Refusal{"leading zero", "A\nh:07:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"minus zero", "A\nh:-0:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"plus sign", "A\nh:+7:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"blank", "A\nh: 7:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"fraction", "A\nh:7.5:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"past int32", "A\nh:2147483648:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"},
                    Refusal{"lone minus", "A\nh:-:\nEND\n",
                            "line 2: the round trip is not a whole number of milliseconds"}));

TEST(IsReportField, TakesPrintableTextUpTo127BytesWithoutColons) {
  EXPECT_TRUE(zelvor::isReportField("h"));
  EXPECT_TRUE(zelvor::isReportField(" <script>\xC3\xA9 "));
  EXPECT_TRUE(zelvor::isReportField(std::string(127, 'x')));
  EXPECT_FALSE(zelvor::isReportField(""));
  EXPECT_FALSE(zelvor::isReportField(std::string(128, 'x')));
  EXPECT_FALSE(zelvor::isReportField("a:b"));
  EXPECT_FALSE(zelvor::isReportField("a\rb"));
  EXPECT_FALSE(zelvor::isReportField("a\x7F"));
}

}  // namespace
