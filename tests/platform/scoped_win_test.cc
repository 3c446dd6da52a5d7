#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/win/scoped.h"

namespace platform {
namespace {

// Records every handle closed, so ownership shows as exactly one close per handle.
std::vector<HANDLE>& Closed() {
  static std::vector<HANDLE> closed;
  return closed;
}
BOOL WINAPI RecordClose(HANDLE handle) {
  Closed().push_back(handle);
  return TRUE;
}
using Recorded = Scoped<HANDLE, &RecordClose>;

HANDLE Fake(uintptr_t n) { return reinterpret_cast<HANDLE>(n); }

TEST(Scoped, ClosesEachHandleOnceAcrossMovesAndResets) {
  Closed().clear();
  {
    Recorded a(Fake(0x10));
    Recorded b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_TRUE(b.Valid());
    Recorded c;
    c = std::move(b);
    EXPECT_EQ(c.Get(), Fake(0x10));
    c.Reset(Fake(0x20));  // closes 0x10
    Recorded d(Fake(0x30));
    c = std::move(d);  // closes 0x20
    HANDLE released = Recorded(Fake(0x40)).Release();
    EXPECT_EQ(released, Fake(0x40));
  }  // closes 0x30
  EXPECT_EQ(Closed(), (std::vector<HANDLE>{Fake(0x10), Fake(0x20), Fake(0x30)}));
}

TEST(Scoped, NullAndInvalidHandleValueAreNoHandle) {
  Closed().clear();
  {
    Recorded null(nullptr);
    Recorded invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(null.Valid());
    EXPECT_FALSE(invalid.Valid());
  }
  EXPECT_TRUE(Closed().empty());
}

TEST(Scoped, ReceiveClosesTheOldHandleAndTakesTheNewOne) {
  Closed().clear();
  {
    Recorded owner(Fake(0x50));
    *owner.Receive() = Fake(0x60);
    EXPECT_EQ(Closed(), std::vector<HANDLE>{Fake(0x50)});
    EXPECT_EQ(owner.Get(), Fake(0x60));
  }
  EXPECT_EQ(Closed(), (std::vector<HANDLE>{Fake(0x50), Fake(0x60)}));

  ScopedKey key;  // the use it is made for
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Receive()),
            ERROR_SUCCESS);
  EXPECT_TRUE(key.Valid());
}

TEST(ScopedHandle, ClosesARealHandle) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  { ScopedHandle owner(raw); }
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

}  // namespace
}  // namespace platform
