// The settings' text form: which lines set a value and the exact bytes
// written.
#include "app/settings.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "settings_bounds.hpp"

namespace zelvor {

// Failure messages show the values by name. The platform store tests use
// it too.
void PrintTo(const Settings& settings, std::ostream* out) {
  for (const SettingsField& field : settingsFields) {
    *out << field.name << '=' << settings.*field.member << ' ';
  }
  if (settings.site) *out << siteSettingName << "=\"" << *settings.site << "\" ";
  if (settings.label) *out << labelSettingName << "=\"" << *settings.label << "\" ";
  if (settings.ip) *out << ipSettingName << "=\"" << *settings.ip << '"';
}

}  // namespace zelvor

namespace {

using zelvor::Settings;

constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();

struct ParseCase {
  const char* what;
  std::string text;
  Settings expected;
};

TEST(ParseSettingsText, TakesOnlyWellFormedLinesOfKnownNames) {
  const ParseCase cases[] = {
      {"empty text", "", Settings{}},
      {"every value",
       "loops=5\ntimeout_new=1500\nairborne_new=8\nthreads=2\nwinx=640\nwiny=480\n",
       {.loops = 5, .timeoutNew = 1500, .airborneNew = 8, .threads = 2, .winx = 640, .winy = 480}},
      {"one value", "threads=7\n", {.threads = 7}},
      {"last line without its end", "winy=5", {.winy = 5}},
      {"CR LF", "loops=9\r\nwinx=12\r\n", {.loops = 9, .winx = 12}},
      {"letters", "loops=abc\n", Settings{}},
      {"fraction", "loops=3.5\n", Settings{}},
      {"nothing after =", "loops=\n", Settings{}},
      {"sign alone", "loops=-\nthreads=+\n", Settings{}},
      {"two signs", "loops=+-5\nthreads=--5\n", Settings{}},
      {"hexadecimal", "loops=0x10\n", Settings{}},
      {"one past the largest", "loops=2147483648\n", Settings{}},
      {"one below the smallest", "loops=-2147483649\n", Settings{}},
      {"blank after =", "loops= 3\n", Settings{}},
      {"blank before =", "loops =3\n", Settings{}},
      {"blank after the value", "loops=3 \n", Settings{}},
      {"blank before the name", " loops=3\n", Settings{}},
      {"second =", "loops=3=4\n", Settings{}},
      {"lone CR inside the value", "loops=3\r\r\n", Settings{}},
      {"NUL inside the value", std::string("loops=3\0\n", 9), Settings{}},
      {"name in another case", "Loops=9\nTHREADS=9\n", Settings{}},
      {"no =", "loops\n", Settings{}},
      {"negative kept", "winx=-2000\n", {.winx = -2000}},
      {"extremes and a plus sign",
       "loops=-2147483648\nthreads=2147483647\nwiny=+7\nwinx=007\n",
       {.loops = int32Min, .threads = int32Max, .winx = 7, .winy = 7}},
      {"unknown names and comments",
       "# loops=9\n[Zelvor]\nloop=9\nthreads=6\nloopsx=9\n",
       {.threads = 6}},
      {"last line wins", "threads=6\nloops=1\nthreads=8\n", {.loops = 1, .threads = 8}},
      {"malformed later line leaves the earlier value", "threads=6\nthreads=x\n", {.threads = 6}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(zelvor::parseSettingsText(c.text), c.expected);
  }
}

TEST(FormatSettingsText, WritesSixLinesInTheStoredOrder) {
  EXPECT_EQ(zelvor::formatSettingsText(Settings{}),
            "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\n");
  const Settings extremes{.loops = int32Min,
                          .timeoutNew = int32Max,
                          .airborneNew = 0,
                          .threads = -1,
                          .winx = -2000,
                          .winy = 1};
  const std::string text = zelvor::formatSettingsText(extremes);
  EXPECT_EQ(text,
            "loops=-2147483648\ntimeout_new=2147483647\nairborne_new=0\nthreads=-1\n"
            "winx=-2000\nwiny=1\n");
  EXPECT_EQ(zelvor::parseSettingsText(text), extremes);
}

// The text keeps what the user wrote; only the run takes the default.
TEST(SettingsInUse, ValuesOutsideTheirBoundsAreUsedAsTheDefault) {
  for (const zelvor::test::BoundEdge& edge : zelvor::test::settingsBoundEdges()) {
    const std::string line = std::string(edge.name) + "=" + std::to_string(edge.stored);
    SCOPED_TRACE(line);
    const Settings stored = zelvor::parseSettingsText(line + "\n");
    Settings expectedStored;
    expectedStored.*zelvor::test::settingMember(edge.name) = edge.stored;
    EXPECT_EQ(stored, expectedStored);
    Settings expectedUsed;
    expectedUsed.*zelvor::test::settingMember(edge.name) = edge.used;
    EXPECT_EQ(zelvor::settingsInUse(stored), expectedUsed);
    EXPECT_NE(zelvor::formatSettingsText(stored).find(line + "\n"), std::string::npos);
  }
}

TEST(SettingsInUse, BoundsEachValueOnItsOwnAndLeavesTheSiteAlone) {
  const Settings stored{.loops = 1001,
                        .timeoutNew = 60000,
                        .airborneNew = -1,
                        .threads = 64,
                        .winx = -5,
                        .winy = 7,
                        .site = "h:0"};
  EXPECT_EQ(zelvor::settingsInUse(stored), (Settings{.loops = 3,
                                                     .timeoutNew = 60000,
                                                     .airborneNew = 16,
                                                     .threads = 64,
                                                     .winx = -5,
                                                     .winy = 7,
                                                     .site = "h:0"}));
  EXPECT_EQ(zelvor::settingsInUse(Settings{}), Settings{});
}

// A label is kept as stored, whatever its shape, and written after the
// site, so that a save never rewrites what the user wrote.
TEST(LabelSettingText, KeptAsStoredAndWrittenAfterTheSite) {
  const struct {
    std::string text;
    std::optional<std::string> label;
    std::string written;
  } cases[] = {
      {"label=lab-1\n", "lab-1", "label=lab-1\n"},
      {"label=not ok\r\nsite=h\n", "not ok", "site=h\nlabel=not ok\n"},
      {"label=\n", "", "label=\n"},
      {"label=a\nlabel=b", "b", "label=b\n"},
      {"Label=a\n label=b\n", std::nullopt, ""},
  };
  const std::string numbers = zelvor::formatSettingsText(Settings{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Settings parsed = zelvor::parseSettingsText(c.text);
    EXPECT_EQ(parsed.label, c.label);
    EXPECT_EQ(zelvor::formatSettingsText(parsed), numbers + c.written);
    EXPECT_EQ(zelvor::settingsInUse(parsed).label, c.label);
  }
}

// The ip is kept as stored like the label, written after it; only a run
// takes a text that names no choice as auto, and says so.
TEST(IpSettingText, KeptAsStoredAndMeasuredAsTheChoiceItNames) {
  using zelvor::IpChoice;
  const std::string refused = " is not auto, 4 or 6 and is ignored";
  const struct {
    std::string text;
    std::optional<std::string> ip;
    std::string written;
    IpChoice used;
    std::optional<std::string> said;
  } cases[] = {
      {"", std::nullopt, "", IpChoice::automatic, std::nullopt},
      {"ip=auto\n", "auto", "ip=auto\n", IpChoice::automatic, std::nullopt},
      {"ip=4\n", "4", "ip=4\n", IpChoice::v4, std::nullopt},
      {"ip=6\r\nlabel=lab\n", "6", "label=lab\nip=6\n", IpChoice::v6, std::nullopt},
      {"ip=4\nip=6", "6", "ip=6\n", IpChoice::v6, std::nullopt},
      {"ip=6\nsite=h\n", "6", "site=h\nip=6\n", IpChoice::v6, std::nullopt},
      {"ip=v6\n", "v6", "ip=v6\n", IpChoice::automatic, "the stored ip \"v6\"" + refused},
      {"ip=6 \n", "6 ", "ip=6 \n", IpChoice::automatic, "the stored ip \"6 \"" + refused},
      {"ip=\n", "", "ip=\n", IpChoice::automatic, "the stored ip \"\"" + refused},
      {"ip=Auto\n", "Auto", "ip=Auto\n", IpChoice::automatic, "the stored ip \"Auto\"" + refused},
      {"IP=6\n ip=6\nip6=6\n", std::nullopt, "", IpChoice::automatic, std::nullopt},
  };
  const std::string numbers = zelvor::formatSettingsText(Settings{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Settings parsed = zelvor::parseSettingsText(c.text);
    EXPECT_EQ(parsed.ip, c.ip);
    EXPECT_EQ(zelvor::formatSettingsText(parsed), numbers + c.written);
    const Settings used = zelvor::settingsInUse(parsed);
    EXPECT_EQ(used.ip, c.ip);
    EXPECT_EQ(zelvor::ipInUse(used.ip), c.used);
    EXPECT_EQ(zelvor::pingSettingsOf(used).ip, c.used);
    EXPECT_EQ(zelvor::refusedIpSetting(parsed.ip), c.said);
  }
}

}  // namespace
