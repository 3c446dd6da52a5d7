#include "remedy/autorun_cleanup.h"

#include <gtest/gtest.h>

#include "tests/support/stage_context.h"

namespace {

using remedy::RootKey;
using support::StageContext;

TEST(CleanAutorunEntries, DeletesWhatTheThreeKeysStartFromATempFolder) {
  StageContext s;
  s.machine.AddFile(L"c:\\Users\\u\\AppData\\Local\\Temp\\a.exe", {1})
      .AddFile(L"c:\\Windows\\Temporary\\b.exe", {1})
      .AddFile(L"c:\\x\\temp\\c.exe", {1})
      .AddFile(L"c:\\Temp\\d.exe", {1})
      .AddValue(RootKey::kLocalMachine, remedy::kRunKey, L"one",
                L"c:\\Users\\u\\AppData\\Local\\Temp\\a.exe")
      .AddValue(RootKey::kLocalMachine, remedy::kRunKey, L"lower", L"c:\\x\\temp\\c.exe")
      .AddValue(RootKey::kLocalMachine, remedy::kPoliciesRunKey, L"two",
                L"c:\\Windows\\Temporary\\b.exe")
      // Any value of the third key counts by its data alone, whatever its name.
      .AddValue(RootKey::kCurrentUser, remedy::kWindowsKey, L"load", L"c:\\Temp\\d.exe")
      .AddValue(RootKey::kCurrentUser, remedy::kWindowsKey, L"Device", L"winspool,Ne00:");
  EXPECT_TRUE(remedy::CleanAutorunEntries(s.context));
  EXPECT_EQ(s.state.autorunCandidates,
            (std::vector<std::wstring>{L"c:\\Users\\u\\AppData\\Local\\Temp\\a.exe",
                                       L"c:\\Windows\\Temporary\\b.exe", L"c:\\Temp\\d.exe"}));
  EXPECT_FALSE(s.machine.Exists(L"c:\\Users\\u\\AppData\\Local\\Temp\\a.exe"));
  EXPECT_FALSE(s.machine.Exists(L"c:\\Windows\\Temporary\\b.exe"));
  EXPECT_FALSE(s.machine.Exists(L"c:\\Temp\\d.exe"));
  EXPECT_TRUE(s.machine.Exists(L"c:\\x\\temp\\c.exe"));  // the search is case-sensitive
  // One attempt each, after the one-second wait.
  EXPECT_EQ(s.machine.LogOf(L"sleep").size(), 3u);
}

TEST(CleanAutorunEntries, DuplicateDataGivesTwoAttemptsAndTheFirstSuccessCounts) {
  StageContext s;
  s.machine.AddFile(L"c:\\Temp\\a.exe", {1})
      .AddValue(RootKey::kLocalMachine, remedy::kRunKey, L"a", L"c:\\Temp\\a.exe")
      .AddValue(RootKey::kLocalMachine, remedy::kPoliciesRunKey, L"b", L"c:\\Temp\\a.exe");
  EXPECT_TRUE(remedy::CleanAutorunEntries(s.context));
  EXPECT_EQ(s.machine.LogOf(L"delete"),
            (std::vector<std::wstring>{L"delete c:\\Temp\\a.exe", L"delete c:\\Temp\\a.exe"}));
}

TEST(CleanAutorunEntries, FindsNothingWithoutKeysOrWithUnreadableData) {
  StageContext s;
  s.machine
      .AddFile(L"c:\\Temp\\a.exe", {1})
      // Data longer than the buffer is never read, so it never becomes a candidate.
      .AddValue(RootKey::kLocalMachine, remedy::kRunKey, L"long", L"c:\\Temp\\a.exe", true)
      // A command line is a candidate but no file: the attempt fails silently.
      .AddValue(RootKey::kCurrentUser, remedy::kWindowsKey, L"run", L"\"c:\\Temp\\a.exe\" /silent");
  EXPECT_FALSE(remedy::CleanAutorunEntries(s.context));
  EXPECT_TRUE(s.machine.Exists(L"c:\\Temp\\a.exe"));
  EXPECT_EQ(s.machine.Output(), "");
}

TEST(CleanAutorunEntries, KeepsOnlyTheThirdKeysValuesInItsList) {
  StageContext s;
  s.machine.AddValue(RootKey::kLocalMachine, remedy::kRunKey, L"a", L"x")
      .AddValue(RootKey::kLocalMachine, remedy::kPoliciesRunKey, L"b", L"y")
      .AddValue(RootKey::kCurrentUser, remedy::kWindowsKey, L"c", L"z");
  remedy::CleanAutorunEntries(s.context);
  ASSERT_EQ(s.state.registryValues.size(), 1u);
  EXPECT_EQ(s.state.registryValues[0], (std::pair<std::wstring, std::wstring>{L"c", L"z"}));
}

}  // namespace
