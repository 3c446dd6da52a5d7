// Win32Processes and Win32Privileges on this process, threads it makes and children it starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "remedy/process_scan.h"
#include "remedy/win32_services.h"
#include "tests/support/demo_process.h"
#include "tests/support/scratch_folder.h"

namespace {

using remedy::ThreadRecord;
using remedy::Win32Processes;

DWORD WINAPI NeverRuns(void*) { return 0; }

constexpr size_t kPage = 4096;

uint8_t Fill(size_t offset) { return static_cast<uint8_t>(offset * 131 + (offset >> 12)); }

// A suspended thread of this process whose start address lies `startOffset` bytes into a fresh
// committed region of `regionBytes` bytes, filled with Fill. The thread is never resumed: only
// its start region is looked at.
class SuspendedThread {
 public:
  SuspendedThread(size_t regionBytes, size_t startOffset) {
    region_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, regionBytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (region_ == nullptr) return;
    for (size_t i = 0; i < regionBytes; ++i) region_[i] = Fill(i);
    thread_ =
        CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(region_ + startOffset),
                     nullptr, CREATE_SUSPENDED, &id_);
    // Wine records a new thread's start address only once the thread has reached its suspended
    // state; reading its context waits for that.
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    if (thread_ != nullptr) GetThreadContext(thread_, &context);
  }
  ~SuspendedThread() {
    if (thread_ != nullptr) {
      TerminateThread(thread_, 0);
      WaitForSingleObject(thread_, 10000);
      CloseHandle(thread_);
    }
    if (region_ != nullptr) VirtualFree(region_, 0, MEM_RELEASE);
  }
  bool Made() const { return thread_ != nullptr; }
  ThreadRecord Record() const { return ThreadRecord{id_, GetCurrentProcessId()}; }

 private:
  uint8_t* region_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
};

TEST(Win32Processes, SnapshotsHoldThisProcessAndItsThreads) {
  Win32Processes processes;
  const HANDLE extra = CreateThread(nullptr, 0, &NeverRuns, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(extra, nullptr);
  const DWORD extraId = GetThreadId(extra);

  const std::vector<remedy::ProcessRecord> all = processes.ProcessSnapshot();
  const auto self = std::find_if(all.begin(), all.end(), [](const remedy::ProcessRecord& p) {
    return p.processId == GetCurrentProcessId();
  });
  ASSERT_NE(self, all.end());
  EXPECT_EQ(self->exeFile, L"remedy_tests.exe");
  EXPECT_NE(self->parentProcessId, self->processId);

  const std::vector<ThreadRecord> threads = processes.ThreadSnapshot();
  std::vector<uint32_t> ours;
  for (const ThreadRecord& t : threads) {
    if (t.ownerProcessId == GetCurrentProcessId()) ours.push_back(t.threadId);
  }
  EXPECT_NE(std::find(ours.begin(), ours.end(), GetCurrentThreadId()), ours.end());
  EXPECT_NE(std::find(ours.begin(), ours.end(), extraId), ours.end());
  TerminateThread(extra, 0);
  CloseHandle(extra);
}

struct RegionCase {
  const char* name;
  size_t regionBytes;
  size_t startOffset;
  size_t expectedBytes;
};
// The region VirtualQueryEx reports begins at the page that holds the start address and runs to
// the end of the pages alike; the read is cut to the 2,000,000-byte limit.
const RegionCase kRegionCases[] = {
    {"start_at_the_base", 0x10000, 0, 0x10000},
    {"start_in_a_later_page", 0x10000, 0x1234, 0x10000 - 0x1000},
    {"region_at_the_limit", 2000000 + 0x380, 0x100, 2000000},  // 2000896: whole pages
    {"region_past_the_limit", 3 << 20, 0x10, 2000000},
    {"start_past_the_limit", 3 << 20, (2 << 20) + 0x10, 1 << 20},
};

class Win32ThreadStartRegion : public testing::TestWithParam<RegionCase> {};

TEST_P(Win32ThreadStartRegion, ReadsFromThePageOfTheStartUpToTheLimit) {
  const RegionCase& c = GetParam();
  SuspendedThread thread(c.regionBytes, c.startOffset);
  ASSERT_TRUE(thread.Made());
  Win32Processes processes;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(processes.ReadThreadStartRegion(thread.Record(), remedy::kThreadReadLimit, bytes));
  ASSERT_EQ(bytes.size(), c.expectedBytes);
  const size_t from = c.startOffset / kPage * kPage;
  size_t differences = 0;
  for (size_t i = 0; i < bytes.size(); ++i) differences += bytes[i] != Fill(from + i);
  EXPECT_EQ(differences, 0u);
}

INSTANTIATE_TEST_SUITE_P(Regions, Win32ThreadStartRegion, testing::ValuesIn(kRegionCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Win32Processes, AThreadThatIsGoneGivesNoBytes) {
  Win32Processes processes;
  std::vector<uint8_t> bytes{1, 2, 3};
  EXPECT_FALSE(processes.ReadThreadStartRegion(ThreadRecord{0xFFFFFFF0, GetCurrentProcessId()},
                                               remedy::kThreadReadLimit, bytes));
  EXPECT_FALSE(processes.ReadThreadStartRegion(ThreadRecord{GetCurrentThreadId(), 0xFFFFFFF0},
                                               remedy::kThreadReadLimit, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Win32Processes, TerminatesAChildAndNoProcessThatDoesNotExist) {
  support::ScratchFolder folder(L"proc");
  const std::wstring file = folder.Path() + L"\\held.bin";
  ASSERT_TRUE(support::WriteBytes(file, {1}));
  support::DemoProcess child;
  ASSERT_TRUE(child.Start(L"hold \"" + file + L"\" 60")) << "error " << GetLastError();
  ASSERT_EQ(child.ReadLine(), "holding");
  Win32Processes processes;
  ASSERT_TRUE(processes.Terminate(child.Id()));
  ASSERT_TRUE(child.Wait(10000));
  EXPECT_EQ(child.ExitCode(), 0u);                // the exit code Terminate gives
  EXPECT_FALSE(processes.Terminate(0xFFFFFFF0));  // no such process
}

TEST(Win32Processes, IsNoWow64ProcessInThe64BitBuild) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "a 32-bit build's answer depends on its Windows";
  Win32Processes processes;
  EXPECT_EQ(processes.IsWow64(), std::optional<bool>(false));
}

// The token keeps its privileges by LUID; true when it holds `name` and it is enabled.
bool PrivilegeEnabled(const wchar_t* name, bool& held) {
  held = false;
  LUID luid;
  HANDLE token = nullptr;
  if (!LookupPrivilegeValueW(nullptr, name, &luid) ||
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  bool enabled = false;
  if (size != 0 && GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
    const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = list->Privileges[i];
      if (p.Luid.LowPart != luid.LowPart || p.Luid.HighPart != luid.HighPart) continue;
      held = true;
      enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  CloseHandle(token);
  return enabled;
}

TEST(Win32Privileges, EnablesTheDebugPrivilegeWhenTheTokenHoldsIt) {
  remedy::Win32Privileges privileges;
  const bool adjusted = privileges.EnableDebugPrivilege();
  bool held = false;
  const bool enabled = PrivilegeEnabled(L"SeDebugPrivilege", held);
  // An account without the privilege still gets a successful call; it just stays off.
  if (held) {
    EXPECT_TRUE(adjusted);
    EXPECT_TRUE(enabled);
  }
  EXPECT_EQ(privileges.EnableDebugPrivilege(), adjusted);
}

}  // namespace
