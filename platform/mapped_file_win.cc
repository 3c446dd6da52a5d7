// The size is taken once the mapping object exists: from then on the file cannot shrink below
// it, so the view always covers the bytes handed out, even if a writer sharing the file
// truncated it between the open and the mapping.
#include <windows.h>

#include <cstdio>
#include <limits>

#include "platform/mapped_file.h"
#include "platform/win/scoped.h"

namespace platform {

std::optional<uint64_t> MeasureFile(const std::wstring& path) {
  FILE* stream = nullptr;
  if (_wfopen_s(&stream, path.c_str(), L"r") != 0 || stream == nullptr) return std::nullopt;
  std::optional<uint64_t> size;
  if (_fseeki64(stream, 0, SEEK_END) == 0) {
    const __int64 end = _ftelli64(stream);
    if (end >= 0) size = static_cast<uint64_t>(end);
  }
  fclose(stream);
  return size;
}

struct MappedFile::Impl {
  ScopedHandle file;
  ScopedHandle mapping;
  const uint8_t* view = nullptr;
  size_t size = 0;
};

MappedFile::MappedFile() : impl_(std::make_unique<Impl>()) {}

MappedFile::~MappedFile() { Close(); }

MapResult MappedFile::Open(const std::wstring& path) {
  Close();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return MapResult::kOpenFailed;
  // An empty file cannot be mapped: CreateFileMappingW fails for it.
  ScopedHandle mapping(
      CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY | SEC_COMMIT, 0, 0, nullptr));
  if (!mapping.Valid()) return MapResult::kMappingFailed;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
      static_cast<uint64_t>(size.QuadPart) > std::numeric_limits<size_t>::max()) {
    return MapResult::kViewFailed;
  }
  const void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return MapResult::kViewFailed;
  impl_->file = std::move(file);
  impl_->mapping = std::move(mapping);
  impl_->view = static_cast<const uint8_t*>(view);
  impl_->size = static_cast<size_t>(size.QuadPart);
  return MapResult::kOk;
}

void MappedFile::Close() {
  if (impl_->view != nullptr) UnmapViewOfFile(impl_->view);
  impl_->view = nullptr;
  impl_->size = 0;
  impl_->mapping.Reset();
  impl_->file.Reset();
}

bool MappedFile::IsOpen() const { return impl_->view != nullptr; }

std::span<const uint8_t> MappedFile::Bytes() const { return {impl_->view, impl_->size}; }

}  // namespace platform
