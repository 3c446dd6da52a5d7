// The file is created with O_EXCL | O_NOFOLLOW and unlinked as soon as it is open, so no other
// process can open it by name and it vanishes with the descriptor. O_EXCL also means a name
// planted in a shared /tmp (a file or a symlink) makes creation fail instead of being truncated.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "platform/debug_output.h"
#include "platform/temp_file.h"

namespace platform {
namespace {

constexpr char kDefaultTempDirectory[] = "/tmp";
constexpr char kUnlinkFailed[] = "platform::TempFile: unlink after create failed\n";

}  // namespace

struct TempFile::Impl {
  int fd = -1;
};

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env != nullptr && *env != '\0') ? env : kDefaultTempDirectory;
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::unique_ptr<TempFile> TempFile::Create(const std::string& path, bool /*temporaryAttribute*/) {
  auto impl = std::make_unique<Impl>();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (unlink(path.c_str()) == 0) {
      impl->fd = fd;
    } else {
      // A file that would outlive its descriptor breaks the contract: report no file at all.
      DebugOutput(kUnlinkFailed);
      close(fd);
    }
  }
  return std::unique_ptr<TempFile>(new TempFile(path, std::move(impl)));
}

TempFile::TempFile(std::string path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

TempFile::~TempFile() {
  if (impl_->fd >= 0) close(impl_->fd);
}

bool TempFile::Valid() const { return impl_->fd >= 0; }

uint64_t TempFile::Size() {
  struct stat info {};
  if (!Valid() || fstat(impl_->fd, &info) != 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

bool TempFile::SeekEnd() { return Valid() && lseek(impl_->fd, 0, SEEK_END) >= 0; }

bool TempFile::Seek(uint64_t offset) {
  if (!Valid() || offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  return lseek(impl_->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool TempFile::Write(std::span<const uint8_t> bytes) {
  if (!Valid()) return false;
  while (!bytes.empty()) {
    const ssize_t n = write(impl_->fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

size_t TempFile::Read(std::span<uint8_t> out) {
  if (!Valid()) return 0;
  size_t total = 0;
  while (total < out.size()) {
    const ssize_t n = read(impl_->fd, out.data() + total, out.size() - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file, or an error after `total` good bytes
    total += static_cast<size_t>(n);
  }
  return total;
}

}  // namespace platform
