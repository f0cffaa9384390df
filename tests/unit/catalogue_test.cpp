// parseServerList: which lines become entries, and how they group by class.
#include "catalogue/catalogue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

// Class names with their hosts in order: the whole outcome of a parse.
using Shape = std::vector<std::pair<std::string, std::vector<std::string>>>;

Shape shapeOf(const zelvor::ServerCatalogue& catalogue) {
  Shape shape;
  for (const zelvor::ServerClass& serverClass : catalogue) {
    shape.emplace_back(serverClass.name, std::vector<std::string>());
    for (const zelvor::ServerEntry& entry : serverClass.servers) {
      // The list carries no measurements; every parse must start clean.
      EXPECT_TRUE(entry.samples.empty()) << entry.host;
      shape.back().second.push_back(entry.host);
    }
  }
  return shape;
}

struct ListCase {
  const char* what;
  std::string text;
  Shape expected;
};

void PrintTo(const ListCase& listCase, std::ostream* out) { *out << listCase.what; }

class ParseServerList : public testing::TestWithParam<ListCase> {};

TEST_P(ParseServerList, YieldsExactlyTheQualifyingLines) {
  EXPECT_EQ(shapeOf(zelvor::parseServerList(GetParam().text)), GetParam().expected);
}

const Shape oneServer{{"A", {"h1"}}};

INSTANTIATE_TEST_SUITE_P(
    Grouping, ParseServerList,
    testing::Values(ListCase{"classes in first-line order",
                             "A:h1:80\nB:h2:80\nA:h3:80\n",
                             {{"A", {"h1", "h3"}}, {"B", {"h2"}}}},
                    ListCase{"same line twice", "A:h1:80\nA:h1:80\n", {{"A", {"h1", "h1"}}}},
                    ListCase{"names compare exactly",
                             " A:h1:80\nA:h2:80\na:h3:80\nA:h4:80\n",
                             {{" A", {"h1"}}, {"A", {"h2", "h4"}}, {"a", {"h3"}}}},
                    ListCase{
                        "spaces belong to the fields", " A : h 1 :80\n", {{" A ", {" h 1 "}}}}));

INSTANTIATE_TEST_SUITE_P(
    Framing, ParseServerList,
    testing::Values(ListCase{"empty text", "", {}}, ListCase{"only line feeds", "\n\n\n", {}},
                    ListCase{"line without line feed", "A:h1:80", {}},
                    ListCase{"unended last line", "A:h1:80\nB:h2:80", oneServer},
                    ListCase{"empty line skipped", "\nA:h1:80\n\n", oneServer},
                    ListCase{"two fields", "A:h1\nA:h2:\n", {}},
                    ListCase{"empty class name", ":h1:80\n", {}},
                    ListCase{"empty host", "A::80\n", {}},
                    ListCase{"text after number", "A:h1:80:more\n", oneServer},
                    ListCase{"CRLF line end", "A:h1:80\r\n", oneServer},
                    ListCase{"NUL in host", "A:h\0:80\nB:h2:80\n"s, {{"B", {"h2"}}}},
                    ListCase{"NUL after number", "A:h1:80\0junk\n"s, oneServer},
                    ListCase{"NUL inside number",
                             "A:h1:8\0"
                             "0\n"s,
                             {}}));

// Each case is the line "A:h1:" + number + "\n", taken or not.
ListCase numberCase(const char* number, bool taken) {
  return {number, "A:h1:"s + number + "\n", taken ? oneServer : Shape{}};
}

INSTANTIATE_TEST_SUITE_P(
    NumberField, ParseServerList,
    testing::Values(numberCase("80", true), numberCase("080", true),
                    numberCase("0000000000000000080", true), numberCase(" 80", true),
                    numberCase("\t\v\f\r 80", true), numberCase("+80", true),
                    numberCase(" +80", true), numberCase("80xyz", true), numberCase("80\r", true),
                    numberCase("79", false), numberCase("81", false), numberCase("800", false),
                    numberCase("8", false), numberCase("-80", false), numberCase("0x50", false),
                    numberCase("0", false), numberCase("", false), numberCase("+", false),
                    numberCase("+ 80", false), numberCase("8 0", false), numberCase("x80", false),
                    numberCase("4294967376", false),              // 2^32 + 80
                    numberCase("-4294967216", false),             // -(2^32 - 80)
                    numberCase("2147483728", false),              // 2^31 + 80
                    numberCase("18446744073709551696", false)));  // 2^64 + 80

TEST(ParseServerListFieldLength, Takes127BytesSkips128AndReadsOn) {
  const std::string fits(127, 'n');
  const std::string tooLong(128, 'n');
  const std::string text = fits + ":h1:80\n" + tooLong + ":h2:80\n" + "A:" + fits + ":80\n" +
                           "A:" + tooLong + ":80\n" + "A:h3:80\n";
  EXPECT_EQ(shapeOf(zelvor::parseServerList(text)), (Shape{{fits, {"h1"}}, {"A", {fits, "h3"}}}));
}

// Thousands of classes, each opened by a line of its own and visited again
// by lines spread over the rest of the list, some of which are skipped: the
// classes come out in the order of their first line, each with its hosts in
// list order.
TEST(ParseServerListOrder, ManyClassesKeepTheirFirstLineOrder) {
  constexpr std::size_t classCount = 3000;
  std::string text;
  Shape expected(classCount);
  for (std::size_t j = 0; j < classCount; ++j) {
    const std::string name = "K" + std::to_string(j * 7919 % 10007);
    text += name + ":n" + std::to_string(j) + ":80\n";
    expected[j] = {name, {"n" + std::to_string(j)}};
    // An earlier class, or this one; every third such line names another
    // port and is not taken.
    const std::size_t again = j * 37 % (j + 1);
    const std::string host = "r" + std::to_string(j);
    const bool taken = j % 3 != 0;
    text += expected[again].first + ":" + host + (taken ? ":80\n" : ":81\n");
    if (taken) expected[again].second.push_back(host);
  }
  EXPECT_EQ(shapeOf(zelvor::parseServerList(text)), expected);
}

}  // namespace
