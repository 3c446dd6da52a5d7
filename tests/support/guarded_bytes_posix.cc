#include <sys/mman.h>
#include <unistd.h>

#include "tests/support/guarded_bytes.h"

namespace support {

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

uint8_t* ReservePages(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

bool ProtectNone(uint8_t* at, size_t bytes) { return mprotect(at, bytes, PROT_NONE) == 0; }

void ReleasePages(uint8_t* at, size_t bytes) { munmap(at, bytes); }

}  // namespace support
