#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/temp_file.h"
#include "platform/win/scoped.h"

namespace platform {
namespace {

constexpr DWORD kTempPathLimit = 32700;
// One ReadFile or WriteFile moves at most this much, so that the count fits a DWORD.
constexpr size_t kMaxTransfer = 1u << 30;

// SetFilePointer reports failure as INVALID_SET_FILE_POINTER with an error set; that low part
// is also a valid position of a file past 4 GiB, so the error code decides.
bool MovePointer(HANDLE file, LONG low, LONG high, DWORD method) {
  SetLastError(NO_ERROR);
  const DWORD result = SetFilePointer(file, low, &high, method);
  return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

}  // namespace

struct TempFile::Impl {
  ScopedHandle file;
};

std::string TempDirectory() {
  std::vector<char> buffer(kTempPathLimit + 1);
  const DWORD length = GetTempPathA(kTempPathLimit, buffer.data());
  // 0 is failure; a length at or past the limit is the size the path would need.
  if (length == 0 || length >= kTempPathLimit) return std::string();
  return std::string(buffer.data(), length);
}

std::unique_ptr<TempFile> TempFile::Create(const std::string& path, bool temporaryAttribute) {
  auto impl = std::make_unique<Impl>();
  DWORD flags = FILE_FLAG_RANDOM_ACCESS | FILE_FLAG_DELETE_ON_CLOSE;
  if (temporaryAttribute) flags |= FILE_ATTRIBUTE_TEMPORARY;
  impl->file.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, flags, nullptr));
  if (impl->file.Valid()) {
    // Removes a file left behind by a crash at the next restart. It needs administrator
    // rights, so its failure is expected and changes nothing here.
    MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return std::unique_ptr<TempFile>(new TempFile(path, std::move(impl)));
}

TempFile::TempFile(std::string path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

TempFile::~TempFile() = default;

bool TempFile::Valid() const { return impl_->file.Valid(); }

uint64_t TempFile::Size() {
  if (!Valid()) return 0;
  DWORD high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = GetFileSize(impl_->file.Get(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
  return uint64_t{high} << 32 | low;
}

bool TempFile::SeekEnd() { return Valid() && MovePointer(impl_->file.Get(), 0, 0, FILE_END); }

bool TempFile::Seek(uint64_t offset) {
  // The high part is a signed LONG: positions past 2^63 do not exist.
  if (!Valid() || offset >> 63 != 0) return false;
  return MovePointer(impl_->file.Get(), static_cast<LONG>(offset & 0xFFFFFFFF),
                     static_cast<LONG>(offset >> 32), FILE_BEGIN);
}

bool TempFile::Write(std::span<const uint8_t> bytes) {
  if (!Valid()) return false;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
    DWORD written = 0;
    if (!WriteFile(impl_->file.Get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

size_t TempFile::Read(std::span<uint8_t> out) {
  if (!Valid()) return 0;
  size_t total = 0;
  while (total < out.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min(out.size() - total, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(impl_->file.Get(), out.data() + total, chunk, &got, nullptr) || got == 0) {
      break;  // end of file, or an error after `total` good bytes
    }
    total += got;
  }
  return total;
}

}  // namespace platform
