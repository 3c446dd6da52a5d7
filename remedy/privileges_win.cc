#include <windows.h>

#include "platform/win/scoped.h"
#include "remedy/win32_services.h"

namespace remedy {

constexpr wchar_t kDebugPrivilegeName[] = L"SeDebugPrivilege";

bool Win32Privileges::EnableDebugPrivilege() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) {
    return false;
  }
  const platform::ScopedHandle token(rawToken);
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueW(nullptr, kDebugPrivilegeName, &privileges.Privileges[0].Luid)) {
    return false;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Success of the call is all that is looked at: a privilege the token lacks is not reported.
  return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

}  // namespace remedy
