#include <windows.h>

#include "tests/support/guarded_bytes.h"

namespace support {

size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

uint8_t* ReservePages(size_t bytes) {
  return static_cast<uint8_t*>(
      VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

bool ProtectNone(uint8_t* at, size_t bytes) {
  DWORD old = 0;
  return VirtualProtect(at, bytes, PAGE_NOACCESS, &old) != FALSE;
}

void ReleasePages(uint8_t* at, size_t /*bytes*/) { VirtualFree(at, 0, MEM_RELEASE); }

}  // namespace support
