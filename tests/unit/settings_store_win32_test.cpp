// The settings in the registry, under Wine: values of the wrong shape are
// passed over, a save rewrites all six as REG_DWORD, and the site is a
// REG_SZ written back as it was read.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.hpp"
#include "settings_bounds.hpp"
#include "support/failure.hpp"
#include "support/owned_handle_win32.hpp"

namespace zelvor {
void PrintTo(const Settings& settings, std::ostream* out);  // in settings_test.cpp
}

namespace {

using zelvor::Settings;

constexpr const char* parentKeyPath = "SOFTWARE\\Kivrel";
constexpr const char* settingsKeyPath = "SOFTWARE\\Kivrel\\Zelvor";

bool underWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void writeValue(const char* name, DWORD type, const std::vector<BYTE>& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, settingsKeyPath, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// A REG_DWORD value as stored; nothing when it is missing or of another
// type or size.
std::optional<std::uint32_t> readDword(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, settingsKeyPath, name, RRF_RT_REG_DWORD, nullptr, &value,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

// A REG_SZ value as stored; nothing when it is missing or of another type.
std::optional<std::string> readString(const char* name) {
  char text[64] = {};
  DWORD size = sizeof text;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, settingsKeyPath, name, RRF_RT_REG_SZ, nullptr, text,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(text);
}

// The store's key is fixed, so every case starts and ends without it. The
// cases of a parallel ctest run share one Wine prefix, so they take turns
// through a named mutex.
class RegistrySettings : public ::testing::Test {
 protected:
  void SetUp() override {
    // On a real Windows machine these cases would wipe its settings.
    if (!underWine()) GTEST_SKIP() << "changes HKLM\\SOFTWARE\\Kivrel: run only under Wine";
    ASSERT_NE(turn_.get(), nullptr);
    const DWORD waited = WaitForSingleObject(turn_.get(), INFINITE);
    ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
    holding_ = true;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
  }
  void TearDown() override {
    if (!holding_) return;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
    ReleaseMutex(turn_.get());
  }

  kelvo::OwnedHandle turn_{CreateMutexA(nullptr, FALSE, "ZelvorSettingsRegistryTests")};
  bool holding_ = false;
};

TEST_F(RegistrySettings, MissingKeyGivesDefaults) {
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), Settings{});
}

TEST_F(RegistrySettings, SaveWritesSixDwordsAndLoadReadsThemBack) {
  const Settings saved{.loops = -1,
                       .timeoutNew = 2147483647,
                       .airborneNew = -2147483647 - 1,
                       .threads = 0,
                       .winx = -2000,
                       .winy = 480};
  zelvor::systemSettingsStore()->save(saved);
  EXPECT_EQ(readDword("loops"), 0xFFFFFFFFu);
  EXPECT_EQ(readDword("timeout_new"), 0x7FFFFFFFu);
  EXPECT_EQ(readDword("airborne_new"), 0x80000000u);
  EXPECT_EQ(readDword("threads"), 0u);
  EXPECT_EQ(readDword("winx"), 0xFFFFF830u);
  EXPECT_EQ(readDword("winy"), 480u);
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), saved);
}

TEST_F(RegistrySettings, PartialKeyKeepsDefaultsForTheRest) {
  writeValue("threads", REG_DWORD, {7, 0, 0, 0});
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), Settings{.threads = 7});
}

TEST_F(RegistrySettings, ValueOfAnotherShapeIsIgnoredAndASaveReplacesIt) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
  };
  const Case cases[] = {
      {"text", REG_SZ, {'5', 0}},
      {"four bytes of binary", REG_BINARY, {5, 0, 0, 0}},
      {"big-endian four bytes", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 5}},
      {"eight bytes", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}},
      {"REG_DWORD of eight bytes", REG_DWORD, {5, 0, 0, 0, 0, 0, 0, 0}},
      {"REG_DWORD of two bytes", REG_DWORD, {5, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeValue("loops", c.type, c.bytes);
    writeValue("winy", REG_DWORD, {12, 0, 0, 0});
    EXPECT_EQ(zelvor::systemSettingsStore()->load(), Settings{.winy = 12});
    zelvor::systemSettingsStore()->save(Settings{.loops = 6});
    EXPECT_EQ(readDword("loops"), 6u);
    EXPECT_EQ(zelvor::systemSettingsStore()->load(), Settings{.loops = 6});
  }
}

// A value outside its bounds is the user's to correct: the run takes the
// default, the registry keeps what was written.
TEST_F(RegistrySettings, ValueOutsideItsBoundsIsUsedAsTheDefaultAndSavedAsWritten) {
  for (const zelvor::test::BoundEdge& edge : zelvor::test::settingsBoundEdges()) {
    SCOPED_TRACE(std::string(edge.name) + "=" + std::to_string(edge.stored));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
    const auto dword = static_cast<std::uint32_t>(edge.stored);
    writeValue(edge.name, REG_DWORD,
               {static_cast<BYTE>(dword), static_cast<BYTE>(dword >> 8),
                static_cast<BYTE>(dword >> 16), static_cast<BYTE>(dword >> 24)});
    const Settings loaded = zelvor::systemSettingsStore()->load();
    EXPECT_EQ(loaded.*zelvor::test::settingMember(edge.name), edge.stored);
    EXPECT_EQ(zelvor::settingsInUse(loaded).*zelvor::test::settingMember(edge.name), edge.used);
    zelvor::systemSettingsStore()->save(loaded);
    EXPECT_EQ(readDword(edge.name), dword);
    EXPECT_EQ(zelvor::systemSettingsStore()->load(), loaded);
  }
}

// A volatile parent refuses a lasting child, which makes RegCreateKeyA fail
// with a code of its own (ERROR_CHILD_MUST_BE_VOLATILE).
TEST_F(RegistrySettings, SaveFailsWithTheCodeOfTheRefusedKey) {
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, parentKeyPath, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(parent);
  std::string failure = "saved";
  try {
    zelvor::systemSettingsStore()->save(Settings{});
  } catch (const kelvo::Failure& text) {
    failure = text;
  }
  EXPECT_EQ(failure, "Windows error 1021");
  EXPECT_EQ(readDword("loops"), std::nullopt);
}

TEST_F(RegistrySettings, SiteIsAStringSavedOnlyWhenThereIsOne) {
  zelvor::systemSettingsStore()->save(Settings{.winx = 5, .site = "site.test:8080"});
  EXPECT_EQ(readString("site"), "site.test:8080");
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), (Settings{.winx = 5, .site = "site.test:8080"}));
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
  zelvor::systemSettingsStore()->save(Settings{});
  EXPECT_EQ(readString("site"), std::nullopt);
  EXPECT_EQ(readDword("winy"), 100u);
}

TEST_F(RegistrySettings, LabelIsAStringBesideTheSiteSavedOnlyWhenThereIsOne) {
  const Settings labelled{.site = "site.test", .label = "not a label"};
  zelvor::systemSettingsStore()->save(labelled);
  EXPECT_EQ(readString("label"), "not a label");
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), labelled);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
  zelvor::systemSettingsStore()->save(Settings{});
  EXPECT_EQ(readString("label"), std::nullopt);
}

// An ip of another type is passed over (the run measures as auto) and left
// where it is; a text goes back as read, whether it names a choice or not.
TEST_F(RegistrySettings, IpIsAStringAfterTheLabelKeptAsStored) {
  const Settings chosen{.label = "lab", .ip = "6"};
  zelvor::systemSettingsStore()->save(chosen);
  EXPECT_EQ(readString("ip"), "6");
  EXPECT_EQ(zelvor::systemSettingsStore()->load(), chosen);
  EXPECT_EQ(zelvor::pingSettingsOf(zelvor::systemSettingsStore()->load()).ip, zelvor::IpChoice::v6);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, parentKeyPath);
  zelvor::systemSettingsStore()->save(Settings{});
  EXPECT_EQ(readString("ip"), std::nullopt);

  const struct {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    std::optional<std::string> loaded;
    zelvor::IpChoice used;
  } cases[] = {
      {"four", REG_SZ, {'4', 0}, "4", zelvor::IpChoice::v4},
      {"no choice", REG_SZ, {'v', '6', 0}, "v6", zelvor::IpChoice::automatic},
      {"number", REG_DWORD, {6, 0, 0, 0}, std::nullopt, zelvor::IpChoice::automatic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeValue("ip", c.type, c.bytes);
    const Settings loaded = zelvor::systemSettingsStore()->load();
    EXPECT_EQ(loaded.ip, c.loaded);
    EXPECT_EQ(zelvor::pingSettingsOf(zelvor::settingsInUse(loaded)).ip, c.used);
    zelvor::systemSettingsStore()->save(loaded);
    EXPECT_EQ(zelvor::systemSettingsStore()->load(), loaded);
    if (c.type == REG_DWORD) {
      EXPECT_EQ(readDword("ip"), 6u);
    }
  }
}

// A value the program cannot use is kept for the user to correct: a string
// goes back as read, a value of another type stays as it was.
TEST_F(RegistrySettings, StoredSiteSurvivesALoadAndSave) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    std::optional<std::string> loaded;
  };
  const Case cases[] = {
      {"not an address", REG_SZ, {'h', ':', '0', 0}, "h:0"},
      {"without its NUL", REG_SZ, {'h', ':', '1'}, "h:1"},
      {"text after a NUL", REG_SZ, {'h', 0, 'x', 0}, "h"},
      {"expandable string", REG_EXPAND_SZ, {'h', 0}, std::nullopt},
      {"number", REG_DWORD, {80, 0, 0, 0}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeValue("site", c.type, c.bytes);
    const Settings loaded = zelvor::systemSettingsStore()->load();
    EXPECT_EQ(loaded.site, c.loaded);
    zelvor::systemSettingsStore()->save(loaded);
    EXPECT_EQ(zelvor::systemSettingsStore()->load(), loaded);
    DWORD type = REG_NONE;
    std::vector<BYTE> stored(16);
    DWORD size = static_cast<DWORD>(stored.size());
    RegGetValueA(HKEY_LOCAL_MACHINE, settingsKeyPath, "site", RRF_RT_ANY | RRF_NOEXPAND, &type,
                 stored.data(), &size);
    stored.resize(size);
    EXPECT_EQ(type, c.type);
    if (!c.loaded) {
      EXPECT_EQ(stored, c.bytes);
    }
  }
}

}  // namespace
