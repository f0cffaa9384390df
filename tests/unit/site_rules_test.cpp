// The site's small rules: the handle's text and shape, the list file's
// checks, the listen address, the request log line, the post limit, and
// reading a query and what a post's query says.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "site/address_range.hpp"
#include "site/handle.hpp"
#include "site/networks.hpp"
#include "site/post_limit.hpp"
#include "site/post_query.hpp"
#include "site/query.hpp"
#include "site/request_log.hpp"
#include "site/server_list.hpp"
#include "site/site_options.hpp"
#include "support/failure.hpp"

namespace {

using namespace std::string_literals;
namespace site = zelvor::site;

TEST(Handle, IsUrlSafeBase64OfTheSixteenBytesWithoutPadding) {
  const unsigned char zeros[16] = {};
  unsigned char ones[16];
  unsigned char counting[16];
  unsigned char high[16];
  for (int i = 0; i < 16; ++i) {
    ones[i] = 0xFF;
    counting[i] = static_cast<unsigned char>(i);
    high[i] = static_cast<unsigned char>(0xF0 + i);
  }
  EXPECT_EQ(site::encodeHandle(zeros), "AAAAAAAAAAAAAAAAAAAAAA");
  EXPECT_EQ(site::encodeHandle(ones), "_____________________w");
  EXPECT_EQ(site::encodeHandle(counting), "AAECAwQFBgcICQoLDA0ODw");
  EXPECT_EQ(site::encodeHandle(high), "8PHy8_T19vf4-fr7_P3-_w");
}

TEST(Handle, ShapeIsExactlyWhatTheEncoderWrites) {
  EXPECT_TRUE(site::isHandleShape("AAECAwQFBgcICQoLDA0ODw"));
  EXPECT_TRUE(site::isHandleShape("_____________________w"));
  for (const std::string& bad :
       {""s, "AAECAwQFBgcICQoLDA0OD"s, "AAECAwQFBgcICQoLDA0ODwA"s,
        // The last character holds two bits: 'x' sets some of the four
        // that must be zero.
        "AAECAwQFBgcICQoLDA0ODx"s, "AAECAwQFBgcICQoLDA0O=w"s, "AAECAwQFBgcICQoLDA0O+w"s,
        "AAECAwQFBgcICQoLDA0O/w"s, "AAECAwQFBgcICQoLDA0O\0w"s, "../../etc/passwd000000"s,
        "AAECAwQFBgcICQoLDA0O w"s})
    EXPECT_FALSE(site::isHandleShape(bad)) << bad;
}

TEST(Handle, RandomHandlesHaveTheShapeAndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string handle = site::randomHandle();
    EXPECT_TRUE(site::isHandleShape(handle)) << handle;
    seen.insert(handle);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(ServerListFile, ServesCanonicalLinesAndSkipsCommentsAndBlanks) {
  const auto list = site::parseServerListFile(
      "# comment\n"
      "A:h1:80\n"
      "\n"
      "  \t\r\n"
      "B:h2:080\r\n"
      " A:h3:+80 trailing words\n"
      "A:h4:80",
      "list");
  EXPECT_EQ(list.body, "A:h1:80\nB:h2:80\n A:h3:80\nA:h4:80\n");
  EXPECT_EQ(list.serverCount, 4u);
  EXPECT_EQ(list.classCount, 3u);
}

struct BadList {
  std::string text;
  std::string failure;
};

class ServerListFileRefuses : public testing::TestWithParam<BadList> {};

TEST_P(ServerListFileRefuses, NamingTheFileAndLine) {
  try {
    site::parseServerListFile(GetParam().text, "servers.list");
    FAIL() << "accepted";
  } catch (const kelvo::Failure& failure) {
    EXPECT_EQ(failure, GetParam().failure);
  }
}

const char skipped[] = ": the program would skip this line; write class:host:80";

INSTANTIATE_TEST_SUITE_P(
    Lines, ServerListFileRefuses,
    testing::Values(BadList{"A:h1:80\nA:h2:81\n", "servers.list:2"s + skipped},
                    BadList{"A:h1\n", "servers.list:1"s + skipped},
                    BadList{"#c\n:h1:80\n", "servers.list:2"s + skipped},
                    BadList{"A::80\n", "servers.list:1"s + skipped},
                    BadList{"A:" + std::string(128, 'h') + ":80\n", "servers.list:1"s + skipped},
                    BadList{"A\tB:h:80\n",
                            "servers.list:1: the class name holds a control character"},
                    BadList{"A:h\x01:80\n", "servers.list:1: the host holds a control character"},
                    BadList{"# only comments\n\n", "servers.list: the list names no servers"},
                    BadList{"", "servers.list: the list names no servers"}));

TEST(ServerListFile, AMissingFileIsNamed) {
  try {
    site::readServerListFile("/nonexistent/servers.list");
    FAIL() << "read";
  } catch (const kelvo::Failure& failure) {
    EXPECT_EQ(failure, "/nonexistent/servers.list: cannot be read");
  }
}

TEST(ListenAddress, ReadsHostAndPortOrRefuses) {
  using Address = site::ListenAddress;
  EXPECT_EQ(site::parseListenAddress("127.0.0.1:80"), (Address{"127.0.0.1", 80}));
  EXPECT_EQ(site::parseListenAddress("0.0.0.0:0"), (Address{"0.0.0.0", 0}));
  EXPECT_EQ(site::parseListenAddress("localhost:65535"), (Address{"localhost", 65535}));
  EXPECT_EQ(site::parseListenAddress("[::1]:8080"), (Address{"::1", 8080}));
  for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":80", "h:65536", "h:-1", "h:+80", "h:8x",
                          "::1:80", "[::1:80", "[]:80"})
    EXPECT_FALSE(site::parseListenAddress(bad)) << bad;
}

TEST(RequestLog, OneLineWithTimeMethodPathStatusBytesAndMilliseconds) {
  // 2026-12-07T18:05:01.123Z
  const std::int64_t at = 1796666701123;
  EXPECT_EQ(site::requestLine(at, "GET", "/zelvor", 200, 5123, std::chrono::microseconds(1449)),
            "2026-12-07T18:05:01.123Z GET /zelvor 200 5123 1.4ms");
  EXPECT_EQ(site::requestLine(at, "POST", "/a b\n%\xff", 413, 0, std::chrono::microseconds(50)),
            "2026-12-07T18:05:01.123Z POST /a%20b%0A%25%FF 413 0 0.1ms");
}

TEST(PostLimit, AllowsABurstThenOnePerShareOfTheMinutePerAddress) {
  using Clock = site::PostLimit::Clock;
  site::PostLimit limit(6);  // one earned every 10 s
  const Clock::time_point start{};
  const auto at = [&](double seconds) {
    return start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  const struct {
    double at;
    const char* address;
    std::optional<long> wait;
  } posts[] = {
      {0, "a", {}},  {0, "a", {}},    {0, "a", {}},  {0, "a", {}}, {0, "a", {}},
      {0, "a", {}},  {0, "a", 10},    {0, "b", {}},  {4, "a", 6},  {10, "a", {}},
      {10, "a", 10}, {10.5, "a", 10}, {25, "a", {}}, {25, "a", 5}, {3600, "a", {}},
  };
  for (const auto& post : posts) {
    SCOPED_TRACE(testing::Message() << post.address << " at " << post.at);
    EXPECT_EQ(limit.take(post.address, at(post.at)), post.wait);
  }
}

// One IPv6 client may use a whole /64; an IPv4 one its address.
TEST(PostLimit, CountsAnIpv6ClientByItsSlash64) {
  const struct {
    const char* address;
    const char* client;
  } cases[] = {
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
      {"2001:DB8:1:2:ffff::", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"::1", "::/64"},
      {"198.18.1.1", "198.18.1.1"},
      {"::ffff:198.18.1.1", "198.18.1.1"},
      {"fe80::1%eth0", "fe80::1%eth0"},
      {"not an address", "not an address"},
  };
  for (const auto& c : cases) EXPECT_EQ(site::clientNetwork(c.address), c.client) << c.address;

  site::PostLimit limit(1);
  const site::PostLimit::Clock::time_point now{};
  EXPECT_EQ(limit.take("2001:db8:1:2::1", now), std::nullopt);
  EXPECT_EQ(limit.take("2001:db8:1:2::9", now), 60);
  EXPECT_EQ(limit.take("2001:db8:1:3::1", now), std::nullopt);
  EXPECT_EQ(limit.take("::ffff:198.18.1.1", now), std::nullopt);
  EXPECT_EQ(limit.take("198.18.1.1", now), 60);
}

TEST(PostLimit, CountsTheBalancersLastForwardedAddressOnlyFromTheBalancer) {
  const struct {
    const char* peer;
    const char* forwardedFor;
    const char* proxy;
    const char* counted;
  } cases[] = {
      {"10.0.0.9", "192.0.2.1", "", "10.0.0.9"},
      {"10.0.0.9", "192.0.2.1", "10.0.0.1", "10.0.0.9"},
      {"10.0.0.1", "192.0.2.1", "10.0.0.1", "192.0.2.1"},
      {"10.0.0.1", "198.51.100.7, 192.0.2.1", "10.0.0.1", "192.0.2.1"},
      {"10.0.0.1", "198.51.100.7,\t192.0.2.1 ", "10.0.0.1", "192.0.2.1"},
      {"10.0.0.1", "", "10.0.0.1", "10.0.0.1"},
      {"10.0.0.1", "192.0.2.1, ", "10.0.0.1", "10.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.peer << " [" << c.forwardedFor << "] " << c.proxy);
    EXPECT_EQ(site::clientAddress(c.peer, c.forwardedFor, c.proxy), c.counted);
  }
}

TEST(PostLimit, OptionReadsNPerMinute) {
  const std::pair<const char*, std::optional<unsigned>> cases[] = {
      {"1/min", 1},   {"60/min", 60},      {"1000000/min", 1'000'000},
      {"0/min", {}},  {"1000001/min", {}}, {"60", {}},
      {"60/s", {}},   {"/min", {}},        {"-1/min", {}},
      {" 6/min", {}}, {"6 /min", {}},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(site::parsePostLimit(text), expected) << text;
}

}  // namespace

TEST(Query, PercentDecodingTakesWholeEscapesOnly) {
  struct Case {
    std::string text;
    bool plusIsSpace;
    std::optional<std::string> decoded;
  };
  for (const Case& test :
       {Case{"a%20b", false, "a b"}, Case{"%41%62%7e%7E", false, "Ab~~"}, Case{"a+b", false, "a+b"},
        Case{"a+b", true, "a b"}, Case{"%2B", true, "+"}, Case{"%00", false, "\0"s},
        Case{"%", false, std::nullopt}, Case{"a%4", false, std::nullopt},
        Case{"%zz", false, std::nullopt}, Case{"%%41", false, std::nullopt}, Case{"", false, ""}}) {
    SCOPED_TRACE(test.text);
    EXPECT_EQ(site::percentDecoded(test.text, test.plusIsSpace), test.decoded);
  }
}

TEST(Query, ValueIsTheFirstOfItsNameDecoded) {
  struct Case {
    std::string query;
    std::string value;
  };
  for (const Case& test :
       {Case{"handle=abc", "abc"}, Case{"a=1&handle=x%2Dy", "x-y"}, Case{"handle=1&handle=2", "1"},
        Case{"handles=1&handle=2", "2"}, Case{"han%64le=x", "x"}, Case{"handle", ""},
        Case{"handle=", ""}, Case{"handle=a%2", ""}, Case{"&&handle=b&", "b"}, Case{"", ""},
        Case{"page=1", ""}}) {
    SCOPED_TRACE(test.query);
    EXPECT_EQ(site::queryValue(test.query, "handle"), test.value);
  }
}

TEST(Networks, EachLineIsARangeAndALabelAndTheNarrowestRangeWins) {
  const site::Networks networks = site::parseNetworksFile(
      "# comment\n\n198.18.0.0/15\twide\n  198.18.4.0/24   office \r\n2001:db8::/32 v6\n"
      "2001:db8:0:1::/64 v6-desk\n198.18.4.0/24 later-equal\n",
      "nets");
  EXPECT_EQ(networks.size(), 5u);
  const struct {
    const char* address;
    std::optional<std::string> label;
  } cases[] = {
      {"198.18.4.7", "office"},        {"198.19.0.1", "wide"},
      {"::ffff:198.18.4.7", "office"}, {"198.20.0.1", std::nullopt},
      {"2001:db8:0:1::5", "v6-desk"},  {"2001:db8:ff::5", "v6"},
      {"2001:db9::1", std::nullopt},   {"not an address", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(networks.labelOf(c.address), c.label) << c.address;
  EXPECT_EQ(site::parseNetworksFile("# nothing\n", "nets").size(), 0u);
}

TEST(Networks, ABadLineIsRefusedWithItsFileAndLine) {
  const std::string shape = "a label is 1 to 64 letters, digits, '-', '_' or '.': ";
  const struct {
    std::string text;
    std::string failure;
  } cases[] = {
      {"198.18.0.0/15\n", "nets:1: write a range and a label: CIDR label"},
      {"# x\n198.18.0.0/15 a b\n", "nets:2: write a range and a label: CIDR label"},
      {"198.18.0.0/33 a\n",
       "nets:1: not an address range such as 198.18.0.0/15 or 2001:db8::/32: 198.18.0.0/33"},
      {"office 198.18.0.0/15\n",
       "nets:1: not an address range such as 198.18.0.0/15 or 2001:db8::/32: office"},
      {"198.18.0.0/15 a/b\n", "nets:1: " + shape + "a/b"},
      {"198.18.0.0/15 " + std::string(65, 'x') + "\n", "nets:1: " + shape + std::string(65, 'x')},
  };
  for (const auto& c : cases) {
    try {
      site::parseNetworksFile(c.text, "nets");
      ADD_FAILURE() << c.text;
    } catch (const kelvo::Failure& failure) {
      EXPECT_EQ(failure, c.failure) << c.text;
    }
  }
}

TEST(Query, AGivenValueIsToldFromAnAbsentOne) {
  EXPECT_EQ(site::givenQueryValue("page=1", "label"), std::nullopt);
  EXPECT_EQ(site::givenQueryValue("label", "label"), "");
  EXPECT_EQ(site::givenQueryValue("label=", "label"), "");
  EXPECT_EQ(site::givenQueryValue("label=a%2Db", "label"), "a-b");
  // Kept as given, for the refusal to name.
  EXPECT_EQ(site::givenQueryValue("label=a%2", "label"), "a%2");
}

// 2026-12-08T12:00:00Z.
constexpr std::int64_t siteNow = 1'796'731'200'000;

TEST(PostQuery, LabelAndMeasuredTimeAreTakenOnlyInTheirShapeAndTime) {
  struct Case {
    std::string query;
    std::optional<std::string> label;
    std::optional<std::int64_t> measuredAtMs;
    std::string refusal;
  };
  const std::string sixtyFour(64, 'x');
  const std::string bad = "The label ";
  const std::string shape = " is not 1 to 64 letters, digits, '-', '_' or '.'\n";
  const std::string clock = "this site's clock (2026-12-08T12:00:00Z)\n";
  const Case cases[] = {
      {"", std::nullopt, std::nullopt, ""},
      {"label=berlin-office", "berlin-office", std::nullopt, ""},
      {"label=A.b_9-" + sixtyFour.substr(6), "A.b_9-" + sixtyFour.substr(6), std::nullopt, ""},
      {"label=" + sixtyFour + "x", {}, {}, bad + "\"" + sixtyFour + "x\"" + shape},
      {"label=", {}, {}, bad + "\"\"" + shape},
      {"label=a%20b", {}, {}, bad + "\"a b\"" + shape},
      {"label=%C3%A4", {}, {}, bad + "\"??\"" + shape},
      {"label=a%0Ab", {}, {}, bad + "\"a?b\"" + shape},
      {"label=" + std::string(100, 'y') + "%",
       {},
       {},
       bad + "\"" + std::string(80, 'y') + "...\"" + shape},
      {"label=lab&measured_at=2026-12-08T11:59:00Z", "lab", 1'796'731'140'000, ""},
      {"measured_at=2026-11-08T12:00:00Z", std::nullopt, siteNow - 30LL * 86'400'000, ""},
      {"measured_at=2026-12-08T12:05:00Z", std::nullopt, siteNow + 300'000, ""},
      {"measured_at=2026-11-08T11:59:59Z",
       {},
       {},
       "The measured time 2026-11-08T11:59:59Z is more than 30 days before " + clock},
      {"measured_at=2026-12-08T12:05:01Z",
       {},
       {},
       "The measured time 2026-12-08T12:05:01Z is more than 5 minutes after " + clock},
      {"measured_at=1796731200",
       {},
       {},
       "The measured time \"1796731200\" is not a UTC time such as 2026-12-08T12:00:00Z\n"},
      {"measured_at=2026-12-08T12%3A00%3A00%2B01%3A00",
       {},
       {},
       "The measured time \"2026-12-08T12:00:00+01:00\" is not a UTC time such as "
       "2026-12-08T12:00:00Z\n"},
      // The label is checked first.
      {"measured_at=x&label=", {}, {}, bad + "\"\"" + shape},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const auto read = site::readPostQuery(c.query, siteNow);
    if (c.refusal.empty()) {
      ASSERT_TRUE(std::holds_alternative<site::PostQuery>(read)) << std::get<std::string>(read);
      EXPECT_EQ(std::get<site::PostQuery>(read), (site::PostQuery{c.label, c.measuredAtMs}));
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(read));
      EXPECT_EQ(std::get<std::string>(read), c.refusal);
    }
  }
}
