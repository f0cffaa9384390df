// The request texts byte for byte, and readResponse over replies in memory:
// status, header and where the body ends.
#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "memory_reader.hpp"
#include "net/http_client.hpp"
#include "support/failure.hpp"

namespace {

using namespace std::string_literals;

TEST(RequestText, GetIsExactlyTheFivePieces) {
  EXPECT_EQ(zelvor::getRequest("h", "/x"), "GET /x HTTP/1.0\r\nHost: h\r\n\r\n");
  EXPECT_EQ(zelvor::getRequest("localhost", "/zv_fetch"),
            "GET /zv_fetch HTTP/1.0\r\nHost: localhost\r\n\r\n");
}

TEST(RequestText, PostHeadCarriesTheBodyLength) {
  EXPECT_EQ(zelvor::postRequestHead("h", "/zelvor", 5),
            "POST /zelvor HTTP/1.0\r\nContent-length: 5\r\nHost: h\r\n\r\n");
  EXPECT_EQ(zelvor::postRequestHead("h", "/p", 0),
            "POST /p HTTP/1.0\r\nContent-length: 0\r\nHost: h\r\n\r\n");
  EXPECT_EQ(zelvor::postRequestHead("h", "/p", 1048576),
            "POST /p HTTP/1.0\r\nContent-length: 1048576\r\nHost: h\r\n\r\n");
}

constexpr std::size_t unbounded = std::numeric_limits<std::size_t>::max();

// The body readResponse returns, or the text it throws.
std::string outcome(zelvor::test::MemoryReader& reader, std::size_t maxBodyBytes) {
  try {
    return "body:" + zelvor::readResponse(reader, maxBodyBytes);
  } catch (const kelvo::Failure& failure) {
    return "failure:" + failure;
  }
}

std::string outcome(std::vector<std::string> pieces, std::size_t maxBodyBytes = unbounded) {
  zelvor::test::MemoryReader reader(std::move(pieces));
  return outcome(reader, maxBodyBytes);
}

struct ReplyCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string outcome;
};

class ReadResponse : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReadResponse, GivesTheBodyOrTheFailure) {
  EXPECT_EQ(outcome(GetParam().pieces), GetParam().outcome);
}

const std::string header300 = "X-Filler: " + std::string(290, 'f') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadResponse,
    testing::Values(
        ReplyCase{"Http11WithReason", {"HTTP/1.1 200 OK\r\n\r\nbody"}, "body:body"},
        ReplyCase{"NotFound",
                  {"HTTP/1.0 404 Not Found\r\nContent-Length: 2\r\n\r\nno"},
                  "failure:HTTP Failure: 404"},
        ReplyCase{
            "Redirect", {"HTTP/1.0 301 Moved\r\nLocation: /\r\n\r\n"}, "failure:HTTP Failure: 301"},
        ReplyCase{"LengthShorterThanData",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"},
                  "body:abc"},
        ReplyCase{"LengthLongerThanData",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcd"},
                  "failure:Bad HTTP Response: body of 4 bytes, 10 announced"},
        ReplyCase{"LastOfTwoLengthsCounts",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\ncontent-length: 4\r\n\r\nabcdef"},
                  "body:abcd"},
        ReplyCase{"KeepAliveWithoutLength",
                  {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\n\r\nabc"},
                  "failure:Unable to determine end of http-document"},
        ReplyCase{"KeepAliveWithZeroLength",
                  {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\nabc"},
                  "body:"},
        ReplyCase{"CloseAfterKeepAlive",
                  {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nCONNECTION: CLOSE\r\n\r\nabc"},
                  "body:abc"},
        ReplyCase{"NegativeLengthReadsToTheEnd",
                  {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: -5\r\n\r\nabc"},
                  "body:abc"},
        ReplyCase{"NoHeaderLines", {"HTTP/1.0 200 OK\r\n\r\nall", " of", " it"}, "body:all of it"},
        ReplyCase{"BareLineFeeds", {"HTTP/1.0 200 OK\nContent-Length: 1\n\nxy"}, "body:x"},
        ReplyCase{"HeaderEndsWithTheData",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n"},
                  "failure:Bad HTTP Response: body of 0 bytes, 1 announced"},
        ReplyCase{"LongHeaderLineIsTwoLines",
                  {"HTTP/1.0 200 OK\r\n" + header300 + "Content-Length: 2\r\n\r\nxyz"},
                  "body:xy"},
        ReplyCase{
            "LengthCutByTheLineLimitIsNotALength",
            {"HTTP/1.0 200 OK\r\nX: " + std::string(251, 'a') + "Content-Length: 1\r\n\r\nxyz"},
            "body:xyz"},
        ReplyCase{
            "LengthStartingThePieceAfterTheLimitIsALength",
            {"HTTP/1.0 200 OK\r\nX: " + std::string(252, 'a') + "Content-Length: 1\r\n\r\nxyz"},
            "body:x"},
        ReplyCase{"BodyWithNulBytes",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\na\0b"s},
                  "body:a\0b"s},
        ReplyCase{"BodyInManyPieces",
                  {"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\n", "ab", "cd", "efgh"},
                  "body:abcdef"},
        ReplyCase{"ClosedAtOnce", {}, "failure:Bad HTTP Response: "},
        ReplyCase{"NotHttp", {"SSH-2.0-x\r\n\r\n"}, "failure:Bad HTTP Response: SSH-2.0-x\r\n"},
        ReplyCase{"StatusLineCutAtNul",
                  {"HTTP/1.0 \0 200\r\n\r\n"s},
                  "failure:Bad HTTP Response: HTTP/1.0 "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadResponse, StatusLineOfMoreThan127BytesIsReadAs127) {
  const std::string line = "HTTP/1.0 " + std::string(150, '9') + "\r\n";
  EXPECT_EQ(outcome({line}), "failure:Bad HTTP Response: " + line.substr(0, 127));
}

TEST(ReadResponse, HugeAnnouncedLengthGrowsOnlyWithTheData) {
  // Reserving the announced 2 GiB up front would fail here (or exhaust the
  // machine) long before the three bytes are read.
  EXPECT_EQ(outcome({"HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\nabc"}),
            "failure:Bad HTTP Response: body of 3 bytes, 2147483647 announced");
}

// Replies against a body bound of 8 bytes: the head comes in a piece of its
// own, so what was consumed beyond it is what the body reading took.
struct BoundCase {
  const char* name;
  std::size_t maxBodyBytes;
  std::string head;
  std::vector<std::string> body;
  std::string outcome;
  std::size_t bodyBytesConsumed;
};

void PrintTo(const BoundCase& boundCase, std::ostream* out) { *out << boundCase.name; }

class ReadResponseBound : public testing::TestWithParam<BoundCase> {};

TEST_P(ReadResponseBound, TakesBodiesUpToTheBoundAndReadsNoFurther) {
  const BoundCase& c = GetParam();
  std::vector<std::string> pieces{c.head};
  pieces.insert(pieces.end(), c.body.begin(), c.body.end());
  zelvor::test::MemoryReader reader(std::move(pieces));
  EXPECT_EQ(outcome(reader, c.maxBodyBytes), c.outcome);
  EXPECT_EQ(reader.consumed(), c.head.size() + c.bodyBytesConsumed);
}

std::string lengthHead(int length) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}
const std::string plainHead = "HTTP/1.0 200 OK\r\n\r\n";
const std::string over8 = "failure:Bad HTTP Response: body over 8 bytes";

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReadResponseBound,
    testing::Values(
        BoundCase{"AnnouncedAtTheBound", 8, lengthHead(8), {"12345678"}, "body:12345678", 8},
        BoundCase{"AnnouncedOnePastTheBoundIsNotRead", 8, lengthHead(9), {"123456789"}, over8, 0},
        BoundCase{"AnnouncedFarPastTheBoundIsNotRead",
                  8,
                  lengthHead(2147483647),
                  {"123456789"},
                  over8,
                  0},
        // The read-ahead takes whatever one receive brings.
        BoundCase{
            "AnnouncedBelowTheBoundWithMoreSent", 8, lengthHead(3), {"123456789"}, "body:123", 9},
        BoundCase{"UnannouncedAtTheBound", 8, plainHead, {"1234", "5678"}, "body:12345678", 8},
        BoundCase{"UnannouncedOnePastTheBound", 8, plainHead, {"1234", "56789"}, over8, 9},
        BoundCase{"UnannouncedFarPastTheBoundStopsInTheReadAhead",
                  8,
                  plainHead,
                  {"1234", "5678", "9abc", "defg"},
                  over8,
                  12},
        BoundCase{"NegativeLengthIsBoundedLikeNone",
                  8,
                  "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n",
                  {"123456789"},
                  over8,
                  9},
        BoundCase{"CutShortWithinTheBound",
                  8,
                  lengthHead(8),
                  {"1234", "567"},
                  "failure:Bad HTTP Response: body of 7 bytes, 8 announced",
                  7},
        BoundCase{"ZeroBoundTakesAnEmptyBody", 0, lengthHead(0), {}, "body:", 0},
        BoundCase{"ZeroBoundTakesAnEmptyUnannouncedBody", 0, plainHead, {}, "body:", 0},
        BoundCase{"ZeroBoundRefusesOneByte",
                  0,
                  plainHead,
                  {"1"},
                  "failure:Bad HTTP Response: body over 0 bytes",
                  1}),
    [](const auto& info) { return std::string(info.param.name); });

// Past the read-ahead's size the body reading receives straight into its
// chunks: a megabyte sent without a length stops one byte past the bound.
TEST(ReadResponseBound, LargeUnannouncedBodyIsReadOnlyToOnePastTheBound) {
  constexpr std::size_t bound = 100000;
  std::vector<std::string> pieces{plainHead};
  for (int i = 0; i < 16; ++i) pieces.emplace_back(64 * 1024, 'x');
  zelvor::test::MemoryReader reader(pieces);
  EXPECT_EQ(outcome(reader, bound), "failure:Bad HTTP Response: body over 100000 bytes");
  EXPECT_EQ(reader.consumed(), plainHead.size() + bound + 1);

  zelvor::test::MemoryReader exact({plainHead, std::string(bound, 'x')});
  EXPECT_EQ(outcome(exact, bound), "body:" + std::string(bound, 'x'));
}

}  // namespace
