// Win32Registry on values written under a key of its own in HKCU, deleted afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "remedy/win32_services.h"

namespace {

using remedy::RootKey;
using remedy::Win32Registry;

class Win32RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    subkey_ = L"Software\\NolvexaTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str());
  }
  void Set(const std::wstring& name, DWORD type, const void* data, size_t bytes) {
    ASSERT_EQ(RegSetValueExW(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                             static_cast<DWORD>(bytes)),
              ERROR_SUCCESS);
  }
  void SetText(const std::wstring& name, const std::wstring& text) {
    Set(name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }

  std::wstring subkey_;
  HKEY key_ = nullptr;
  Win32Registry registry_;
};

TEST_F(Win32RegistryTest, ListsNamesInIndexOrderAndReadsTheirText) {
  SetText(L"Updater", L"C:\\Users\\x\\AppData\\Local\\Temp\\u.exe");
  SetText(L"Tray", L"C:\\Program Files\\tray.exe");
  SetText(L"", L"default value");

  std::vector<std::wstring> names{L"kept"};
  ASSERT_TRUE(registry_.ValueNames(RootKey::kCurrentUser, subkey_, names));
  // Appended in the order RegEnumValueW gives them.
  std::vector<std::wstring> expected{L"kept"};
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    expected.emplace_back(name, length);
  }
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_EQ(names, expected);

  std::wstring data;
  ASSERT_TRUE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"Updater", data));
  EXPECT_EQ(data, L"C:\\Users\\x\\AppData\\Local\\Temp\\u.exe");
  ASSERT_TRUE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"", data));
  EXPECT_EQ(data, L"default value");
}

TEST_F(Win32RegistryTest, AnEmptyKeyListsNothingButOpens) {
  std::vector<std::wstring> names;
  EXPECT_TRUE(registry_.ValueNames(RootKey::kCurrentUser, subkey_, names));
  EXPECT_TRUE(names.empty());
}

TEST_F(Win32RegistryTest, AMissingKeyOrValueReadsNothing) {
  std::vector<std::wstring> names;
  EXPECT_FALSE(registry_.ValueNames(RootKey::kCurrentUser, subkey_ + L"\\missing", names));
  EXPECT_FALSE(registry_.ValueNames(RootKey::kLocalMachine, subkey_, names));
  EXPECT_TRUE(names.empty());
  std::wstring data = L"kept";
  EXPECT_FALSE(registry_.QueryValue(RootKey::kCurrentUser, subkey_ + L"\\missing", L"a", data));
  EXPECT_FALSE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"absent", data));
  EXPECT_EQ(data, L"kept");
}

// The data buffer holds 1024 bytes: 511 units and a terminator fit, a longer text is refused.
TEST_F(Win32RegistryTest, DataLongerThanTheBufferIsRefused) {
  SetText(L"fits", std::wstring(511, L'a'));
  SetText(L"long", std::wstring(512, L'b'));  // 1026 bytes with the terminator
  SetText(L"huge", std::wstring(5000, L'c'));
  std::wstring data = L"kept";
  ASSERT_TRUE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"fits", data));
  EXPECT_EQ(data, std::wstring(511, L'a'));
  data = L"kept";
  EXPECT_FALSE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"long", data));
  EXPECT_FALSE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, L"huge", data));
  EXPECT_EQ(data, L"kept");
}

// Registry text need not end in a zero: the byte count decides where it ends, also when the
// whole buffer is taken, and the first zero ends it when there is one.
TEST_F(Win32RegistryTest, TextWithoutTerminatorEndsAtItsByteCount) {
  const std::wstring noEnd = L"C:\\Temp\\x.exe";
  Set(L"noEnd", REG_SZ, noEnd.data(), noEnd.size() * sizeof(wchar_t));
  // Exactly the buffer. As REG_BINARY, since Wine refuses REG_SZ text that leaves no room for a
  // terminator it would add.
  const std::wstring full(512, L'f');
  Set(L"full", REG_BINARY, full.data(), full.size() * sizeof(wchar_t));
  const wchar_t inner[] = L"C:\\Temp\\a.exe\0C:\\b.exe";
  Set(L"inner", REG_MULTI_SZ, inner, sizeof inner);
  const uint8_t odd[] = {'A', 0, 'B', 0, 'C'};  // a trailing half unit is dropped
  Set(L"odd", REG_BINARY, odd, sizeof odd);

  struct Case {
    const wchar_t* name;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"noEnd", noEnd}, {L"full", full}, {L"inner", L"C:\\Temp\\a.exe"}, {L"odd", L"AB"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + wcslen(c.name)));
    std::wstring data;
    ASSERT_TRUE(registry_.QueryValue(RootKey::kCurrentUser, subkey_, c.name, data));
    EXPECT_EQ(data, c.expected);
  }
}

TEST_F(Win32RegistryTest, ANameLongerThanTheNameBufferEndsTheListing) {
  SetText(L"first", L"1");
  SetText(std::wstring(1100, L'n'), L"2");
  std::vector<std::wstring> names;
  ASSERT_TRUE(registry_.ValueNames(RootKey::kCurrentUser, subkey_, names));
  // Index order decides what comes before the long name; the long name itself never comes.
  for (const std::wstring& name : names) EXPECT_LT(name.size(), remedy::kValueNameCapacity);
}

}  // namespace
