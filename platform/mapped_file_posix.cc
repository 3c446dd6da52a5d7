// Windows semantics on POSIX: only a regular file can be opened (CreateFileW refuses a
// directory), and an empty file gives kMappingFailed as CreateFileMappingW does. O_NONBLOCK
// keeps a FIFO at the path from stalling the open; it is refused right after.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "platform/mapped_file.h"
#include "platform/utf8.h"

namespace platform {
namespace {

// An open descriptor of a regular file at `path`, or -1.
int OpenRegularFile(const std::wstring& path, struct stat& info) {
  const std::optional<std::string> narrow = Utf8FromWide(path, /*replaceInvalid=*/false);
  if (!narrow) return -1;
  const int fd = open(narrow->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::optional<uint64_t> MeasureFile(const std::wstring& path) {
  struct stat info {};
  const int fd = OpenRegularFile(path, info);
  if (fd < 0) return std::nullopt;
  const off_t end = lseek(fd, 0, SEEK_END);
  close(fd);
  if (end < 0) return std::nullopt;
  return static_cast<uint64_t>(end);
}

struct MappedFile::Impl {
  const uint8_t* view = nullptr;
  size_t size = 0;
};

MappedFile::MappedFile() : impl_(std::make_unique<Impl>()) {}

MappedFile::~MappedFile() { Close(); }

MapResult MappedFile::Open(const std::wstring& path) {
  Close();
  struct stat info {};
  const int fd = OpenRegularFile(path, info);
  if (fd < 0) return MapResult::kOpenFailed;
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (size == 0 || size > std::numeric_limits<size_t>::max()) {
    close(fd);
    return MapResult::kMappingFailed;
  }
  void* view = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);  // the mapping keeps the file alive by itself
  if (view == MAP_FAILED) return MapResult::kViewFailed;
  impl_->view = static_cast<const uint8_t*>(view);
  impl_->size = static_cast<size_t>(size);
  return MapResult::kOk;
}

void MappedFile::Close() {
  if (impl_->view != nullptr) munmap(const_cast<uint8_t*>(impl_->view), impl_->size);
  impl_->view = nullptr;
  impl_->size = 0;
}

bool MappedFile::IsOpen() const { return impl_->view != nullptr; }

std::span<const uint8_t> MappedFile::Bytes() const { return {impl_->view, impl_->size}; }

}  // namespace platform
