// The settings store on the Windows registry (run under Wine): every value is
// written by the store and checked with the registry's own calls, and the
// other way round. Each test works below a sub-key of its own, deleted at the
// end.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/paths.h"
#include "settings/registry_store.h"

namespace pv::settings {
namespace {

const std::wstring kKey = L"SOFTWARE\\Quillonworks Inc.\\Portavento\\";

void RawSet(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
            const void* data, DWORD bytes, REGSAM view = 0) {
  HKEY h = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &h, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
  RegCloseKey(h);
}

void RawSetText(HKEY root, const std::wstring& key, const std::wstring& name,
                const std::wstring& text, REGSAM view = 0) {
  RawSet(root, key, name, REG_SZ, text.c_str(),
         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
}

std::optional<std::wstring> RawGet(HKEY root, const std::wstring& key, const std::wstring& name) {
  wchar_t buf[512] = {};
  DWORD bytes = sizeof(buf), type = 0;
  const auto status = RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY, &type, buf, &bytes);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::wstring(buf);
}

class SystemRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.UsesSystemRegistry()); }
  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kKey + wsub).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (kKey + wsub).c_str());
    RegDeleteTreeW(HKEY_USERS, (L".DEFAULT\\" + kKey + wsub).c_str());
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &h) ==
        ERROR_SUCCESS) {
      RegDeleteTreeW(h, wsub.c_str());
      RegCloseKey(h);
    }
  }

  std::string Get(const std::string& name, const std::string& root = "") {
    return store.GetRegValue(name, "", root, sub);
  }
  bool Set(const std::string& name, const std::string& text, const std::string& root = "") {
    return store.TrySetRegValue(name, text, "", root, sub);
  }

  const std::string sub = "PVRemoteTest" + std::to_string(GetCurrentProcessId());
  const std::wstring wsub = std::wstring(sub.begin(), sub.end());
  // The paths of a run without a relocation root (an empty value removes it).
  RegistryStore store{(_putenv_s("PVREMOTE_ROOT", ""), platform::Paths::FromEnvironment())};
};

TEST_F(SystemRegistryTest, EachRootCodeReachesItsOwnRegistryKey) {
  EXPECT_EQ(store.FileFor(""), "");
  EXPECT_FALSE(RegistryStore(platform::Paths::UnderRoot("C:\\pv")).UsesSystemRegistry());

  ASSERT_TRUE(Set("sqlPort", "1500"));
  ASSERT_TRUE(Set("sqlPWD", "user", kRootCurrentUser));
  ASSERT_TRUE(Set("sqlPWD", "default", kRootDefaultUser));
  EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, kKey + wsub, L"sqlPort"), L"1500");
  EXPECT_EQ(RawGet(HKEY_CURRENT_USER, kKey + wsub, L"sqlPWD"), L"user");
  EXPECT_EQ(RawGet(HKEY_USERS, L".DEFAULT\\" + kKey + wsub, L"sqlPWD"), L"default");
  EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, kKey + wsub, L"sqlPWD"), std::nullopt);

  RawSetText(HKEY_CURRENT_USER, kKey + wsub, L"sqlUID", L"operator");
  EXPECT_EQ(Get("SQLUID", kRootCurrentUser), "operator");
  EXPECT_EQ(Get("sqluid"), "");  // roots do not mix
  EXPECT_EQ(Get("SQLPORT"), "1500");
  EXPECT_EQ(store.GetRegValue("sqlPort", "software\\QUILLONWORKS INC.\\portavento\\" + sub),
            "1500");
  EXPECT_EQ(Get("missing"), "");
  EXPECT_EQ(store.GetRegValue("sqlPort", "", "", sub + "\\absent"), "");
}

TEST_F(SystemRegistryTest, TextIsUtf8HereAndUtf16InTheRegistry) {
  const std::string utf8 = "Zo\xC3\xAB \xC2\xA7 \xE2\x82\xAC \xF0\x9F\x94\x91";
  ASSERT_TRUE(Set("appFolder", utf8));
  EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, kKey + wsub, L"appFolder"),
            L"Zo\u00EB \u00A7 \u20AC \xD83D\xDD11");
  EXPECT_EQ(Get("appFolder"), utf8);
  RawSetText(HKEY_LOCAL_MACHINE, kKey + wsub, L"caf\u00E9", L"cr\u00E8me");
  EXPECT_EQ(Get("caf\xC3\xA9"), "cr\xC3\xA8me");

  // Malformed UTF-8 is refused and the old value stays.
  EXPECT_FALSE(Set("appFolder", "bad \xC3("));
  EXPECT_EQ(Get("appFolder"), utf8);

  // The text up to the first NUL; a value stored without its terminator is
  // read to its end.
  RawSet(HKEY_LOCAL_MACHINE, kKey + wsub, L"nul", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
  EXPECT_EQ(Get("nul"), "ab");
  RawSet(HKEY_LOCAL_MACHINE, kKey + wsub, L"bare", REG_SZ, L"xyz", 3 * sizeof(wchar_t));
  EXPECT_EQ(Get("bare"), "xyz");
  ASSERT_TRUE(Set("empty", ""));
  EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, kKey + wsub, L"empty"), L"");
}

TEST_F(SystemRegistryTest, OnlyStringValuesOfBoundedSizeAreRead) {
  const DWORD number = 16;
  RawSet(HKEY_LOCAL_MACHINE, kKey + wsub, L"count", REG_DWORD, &number, sizeof(number));
  RawSet(HKEY_LOCAL_MACHINE, kKey + wsub, L"path", REG_EXPAND_SZ, L"%TEMP%", 7 * sizeof(wchar_t));
  EXPECT_EQ(Get("count"), "");
  EXPECT_EQ(Get("path"), "");

  const std::wstring huge(40000, L'x');  // 80 000 bytes
  RawSetText(HKEY_LOCAL_MACHINE, kKey + wsub, L"huge", huge);
  EXPECT_EQ(Get("huge"), "");

  ASSERT_TRUE(Set("sqlPort", "1433"));
  EXPECT_FALSE(Set("sqlPort", std::string(40000, '1')));
  EXPECT_EQ(Get("sqlPort"), "1433");
}

TEST_F(SystemRegistryTest, MachineValuesFallBackToThe32BitView) {
  RawSetText(HKEY_LOCAL_MACHINE, kKey + wsub, L"sqlUID", L"from32", KEY_WOW64_32KEY);
  RawSetText(HKEY_LOCAL_MACHINE, kKey + wsub, L"sqlPort", L"1600", KEY_WOW64_32KEY);
  ASSERT_TRUE(Set("sqlPort", "1500"));
  EXPECT_EQ(Get("sqlUID"), "from32");
  EXPECT_EQ(Get("sqlPort"), "1500");  // the service's own view first
  // Writes go to the service's own view only.
  EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, kKey + wsub, L"sqlUID"), std::nullopt);
}

}  // namespace
}  // namespace pv::settings

#endif  // _WIN32
