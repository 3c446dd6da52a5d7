#include "remedy/file_removal.h"

#include <gtest/gtest.h>

#include "tests/support/fake_machine.h"

namespace {

using support::FakeMachine;

const std::wstring kPath = L"c:\\d\\a.exe";

TEST(DeleteInfectedFile, WaitsThenClearsTheAclThenDeletes) {
  FakeMachine m;
  m.AddFile(kPath, {1, 2, 3}).DenyDelete(kPath);
  EXPECT_TRUE(DeleteInfectedFile(m.Services(), kPath));
  EXPECT_FALSE(m.Exists(kPath));
  EXPECT_EQ(m.Log(),
            (std::vector<std::wstring>{L"sleep 1000", L"null-dacl " + kPath, L"delete " + kPath}));
}

TEST(DeleteInfectedFile, FailsAfterTheWaitWhenTheFileCannotGo) {
  struct Case {
    const char* name;
    bool exists;
    bool heldOpen;
    uint32_t attributes;
  };
  const Case cases[] = {
      {"missing", false, false, remedy::kAttributeArchive},
      {"held_open_without_delete_sharing", true, true, remedy::kAttributeArchive},
      // The override leaves attributes alone: a read-only file stays.
      {"read_only", true, false, remedy::kAttributeReadOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMachine m;
    if (c.exists) m.AddFile(kPath, {1}, c.attributes).HoldOpen(kPath, c.heldOpen);
    EXPECT_FALSE(DeleteInfectedFile(m.Services(), kPath));
    EXPECT_EQ(m.Log().front(), L"sleep 1000");
    EXPECT_EQ(m.Log().back(), L"delete " + kPath);
    EXPECT_EQ(m.Exists(kPath), c.exists);
    if (c.exists) {
      EXPECT_EQ(m.AttributesOf(kPath), c.attributes);
    }
  }
}

}  // namespace
