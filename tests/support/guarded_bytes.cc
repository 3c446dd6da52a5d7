// The bytes sit at the end of the last page before the guard page; an empty copy points at the
// guard page itself.
#include "tests/support/guarded_bytes.h"

#include <algorithm>

namespace support {

GuardedBytes::GuardedBytes(std::span<const uint8_t> bytes) {
  const size_t page = PageSize();
  dataPages_ = (bytes.size() + page - 1) / page;
  mapped_ = (dataPages_ + 1) * page;
  base_ = ReservePages(mapped_);
  if (base_ == nullptr) return;
  uint8_t* const guard = base_ + dataPages_ * page;
  if (!ProtectNone(guard, page)) {
    ReleasePages(base_, mapped_);
    base_ = nullptr;
    return;
  }
  data_ = guard - bytes.size();
  size_ = bytes.size();
  std::copy(bytes.begin(), bytes.end(), data_);
}

GuardedBytes::~GuardedBytes() {
  if (base_ != nullptr) ReleasePages(base_, mapped_);
}

bool GuardedBytes::Seal() {
  if (base_ == nullptr) return false;
  return dataPages_ == 0 || ProtectNone(base_, dataPages_ * PageSize());
}

}  // namespace support
