// The site setting: which texts are addresses, the addresses made from
// them, which site a run takes, the --site refusal, and the setting's
// place in the text form.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/settings.hpp"
#include "app/site_address.hpp"

namespace zelvor {
void PrintTo(const SiteAddress& site, std::ostream* out) { *out << site.host << ':' << site.port; }
}  // namespace zelvor

namespace {

using zelvor::SiteAddress;
using Site = std::optional<SiteAddress>;

TEST(ParseSiteAddress, TakesHostOrHostColonPortOnly) {
  const std::pair<const char*, SiteAddress> taken[] = {
      {"site.test", {"site.test", 80}},
      {"Site-2.test:8080", {"Site-2.test", 8080}},
      {"10.0.0.1:1", {"10.0.0.1", 1}},
      {"h:65535", {"h", 65535}},
  };
  for (const auto& [text, site] : taken) {
    SCOPED_TRACE(text);
    EXPECT_EQ(zelvor::parseSiteAddress(text), site);
  }
  for (const char* text : {"h:0", "h:65536", "h:-1", "h:+80", "h:", "h:http", "h:80 ", "h:80:81",
                           "", ":80", "h_1", "http://h", "-h", "h.", "[::1]:80"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(zelvor::parseSiteAddress(text), std::nullopt);
  }
}

TEST(SiteAddresses, NameThePortOnlyWhenItIsNot80) {
  EXPECT_EQ(zelvor::siteAuthority({"h", 80}), "h");
  EXPECT_EQ(zelvor::siteAuthority({"h", 8080}), "h:8080");
  EXPECT_EQ(zelvor::resultsAddressOf({"h", 80}, "/zelvor"), "http://h/zelvor?handle=");
  EXPECT_EQ(zelvor::resultsAddressOf({"h", 1}, "/zelvor"), "http://h:1/zelvor?handle=");
}

TEST(ChooseSite, CommandLineThenSettingThenNothing) {
  struct Case {
    Site commandLine;
    std::optional<std::string> setting;
    Site site;
    bool settingRefused;
  };
  const SiteAddress given{"given.test", 81};
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, false},
      {given, "stored.test:82", given, false},
      {given, "stored.test:0", given, false},
      {std::nullopt, "stored.test:82", SiteAddress{"stored.test", 82}, false},
      {std::nullopt, "stored.test:0", std::nullopt, true},
      {std::nullopt, "", std::nullopt, false},
      {std::nullopt, " ", std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting.value_or("(no setting)"));
    const zelvor::SiteChoice choice = zelvor::chooseSite(c.commandLine, c.setting);
    EXPECT_EQ(choice.site, c.site);
    EXPECT_EQ(choice.settingRefused, c.settingRefused);
  }
}

// The compiled-in site is the build's own texts, its results address
// included; a chosen one is addressed by its authority.
TEST(SiteInUse, ChosenSiteElseTheBuiltInOneWithItsOwnAddress) {
  struct Case {
    Site chosen;
    SiteAddress address;
    const char* resultsAddress;
  };
  const Case cases[] = {
      {std::nullopt, {"built.in", 80}, "https://built.in/r?id="},
      {SiteAddress{"given.test", 80}, {"given.test", 80}, "http://given.test/zv?handle="},
      {SiteAddress{"10.0.0.2", 8080}, {"10.0.0.2", 8080}, "http://10.0.0.2:8080/zv?handle="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resultsAddress);
    const zelvor::SiteInUse site =
        zelvor::siteInUse(c.chosen, "built.in", "https://built.in/r?id=", "/zv");
    EXPECT_EQ(site.address, c.address);
    EXPECT_EQ(site.resultsAddress, c.resultsAddress);
  }
}

TEST(SiteOption, RefusalQuotesTheValueAsGiven) {
  EXPECT_EQ(zelvor::refusedSiteOption("a b:0"),
            "--site a b:0: not HOST[:PORT] (a host name or IPv4 address, a port from 1 to 65535)");
  EXPECT_EQ(zelvor::refusedSiteOption(""),
            "--site : not HOST[:PORT] (a host name or IPv4 address, a port from 1 to 65535)");
}

// What is read is written back after the six, whether or not it is an
// address; without a site line there is none to write.
TEST(SiteSettingText, KeepsTheRawValue) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"site=h:8080\r\n", "h:8080"},
      {"site=h:0\n", "h:0"},
      {"site=\n", ""},
      {"site= h : 80 \n", " h : 80 "},
      {"site=a\nloops=5\nsite=b", "b"},
      {"Site=h\n site=h\nloops=5\n", std::nullopt},
  };
  for (const auto& [text, site] : cases) {
    SCOPED_TRACE(text);
    const zelvor::Settings parsed = zelvor::parseSettingsText(text);
    EXPECT_EQ(parsed.site, site);
    zelvor::Settings numbers = parsed;
    numbers.site.reset();
    EXPECT_EQ(zelvor::formatSettingsText(parsed),
              zelvor::formatSettingsText(numbers) + (site ? "site=" + *site + "\n" : ""));
  }
}

}  // namespace
