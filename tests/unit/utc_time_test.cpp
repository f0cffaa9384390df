// The four UTC forms, byte for byte, at the moments where a calendar goes
// wrong: the epoch and just before it, leap days, the turn of a year, the
// millisecond field, early years, and the ends of the calendar's range.
#include "support/utc_time.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace {

struct Case {
  std::int64_t unixMs;
  const char* readable;
  const char* iso;
  const char* isoMs;
  const char* compact;
};

constexpr Case cases[] = {
    {0, "1970-01-01 00:00:00 UTC", "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.000Z",
     "19700101T000000Z"},
    {1, "1970-01-01 00:00:00 UTC", "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.001Z",
     "19700101T000000Z"},
    {1'796'666'701'123, "2026-12-07 18:05:01 UTC", "2026-12-07T18:05:01Z",
     "2026-12-07T18:05:01.123Z", "20261207T180501Z"},
    {1'709'251'199'750, "2024-02-29 23:59:59 UTC", "2024-02-29T23:59:59Z",
     "2024-02-29T23:59:59.750Z", "20240229T235959Z"},
    {951'868'799'001, "2000-02-29 23:59:59 UTC", "2000-02-29T23:59:59Z", "2000-02-29T23:59:59.001Z",
     "20000229T235959Z"},
    {1'704'067'199'999, "2023-12-31 23:59:59 UTC", "2023-12-31T23:59:59Z",
     "2023-12-31T23:59:59.999Z", "20231231T235959Z"},
    {1'704'067'200'000, "2024-01-01 00:00:00 UTC", "2024-01-01T00:00:00Z",
     "2024-01-01T00:00:00.000Z", "20240101T000000Z"},
    {-1, "1969-12-31 23:59:59 UTC", "1969-12-31T23:59:59Z", "1969-12-31T23:59:59.999Z",
     "19691231T235959Z"},
    {-2'203'891'200'000, "1900-03-01 00:00:00 UTC", "1900-03-01T00:00:00Z",
     "1900-03-01T00:00:00.000Z", "19000301T000000Z"},
    {-62'135'596'800'000, "0001-01-01 00:00:00 UTC", "0001-01-01T00:00:00Z",
     "0001-01-01T00:00:00.000Z", "00010101T000000Z"},
    {std::numeric_limits<std::int64_t>::min(), "-32767-01-01 00:00:00 UTC",
     "-32767-01-01T00:00:00Z", "-32767-01-01T00:00:00.000Z", "-327670101T000000Z"},
    {std::numeric_limits<std::int64_t>::max(), "32767-12-31 23:59:59 UTC", "32767-12-31T23:59:59Z",
     "32767-12-31T23:59:59.999Z", "327671231T235959Z"},
};

TEST(UtcTime, EachFormIsExactAndFlooredToItsUnit) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unixMs);
    EXPECT_EQ(kelvo::readableUtcTime(c.unixMs), c.readable);
    EXPECT_EQ(kelvo::isoUtcTime(c.unixMs), c.iso);
    EXPECT_EQ(kelvo::isoUtcTimeMs(c.unixMs), c.isoMs);
    EXPECT_EQ(kelvo::compactUtcTime(c.unixMs), c.compact);
    // What is written to the second reads back as that second.
    if (c.unixMs >= -62'135'596'800'000 && c.unixMs < 253'402'300'800'000) {
      const std::int64_t second = c.unixMs - ((c.unixMs % 1000) + 1000) % 1000;
      EXPECT_EQ(kelvo::parseIsoUtcTime(c.iso), second);
      EXPECT_EQ(kelvo::parseCompactUtcTime(c.compact), second);
    }
  }
}

TEST(UtcTime, ReadsOnlyTheExactForm) {
  constexpr const char* refused[] = {
      "",
      "2026-12-07T18:05:01",        // no zone
      "2026-12-07T18:05:01+00:00",  // another way to say UTC
      "2026-12-07 18:05:01Z",
      "2026-12-07T18:05:01.123Z",
      "2026-12-07T18:05:1Z",
      "2026-12-07T18:05:01Z ",
      "+2026-12-07T18:05:01Z",
      "2026-02-30T00:00:00Z",
      "2025-02-29T00:00:00Z",
      "2026-13-01T00:00:00Z",
      "2026-00-10T00:00:00Z",
      "2026-12-07T24:00:00Z",
      "2026-12-07T23:60:00Z",
      "2026-12-07T23:59:60Z",
      "20261207T180501Z",
  };
  for (const char* text : refused) EXPECT_EQ(kelvo::parseIsoUtcTime(text), std::nullopt) << text;
  EXPECT_EQ(kelvo::parseCompactUtcTime("2026-12-07T18:05:01Z"), std::nullopt);
  EXPECT_EQ(kelvo::parseCompactUtcTime("20261207T180501"), std::nullopt);
  EXPECT_EQ(kelvo::parseIsoUtcTime("2024-02-29T12:00:00Z"), 1'709'208'000'000);
  EXPECT_EQ(kelvo::parseIsoUtcTime("9999-12-31T23:59:59Z"), 253'402'300'799'000);
}

}  // namespace
