// Names combine a per-process random tag with a counter, so that test programs running at the
// same time (natively and under Wine) never pick the same file.
#include "tests/support/scratch_file.h"

#include <atomic>
#include <fstream>
#include <random>

namespace support {
namespace {

std::string UniqueName() {
  static const uint64_t tag = [] {
    std::random_device device;
    return uint64_t{device()} << 32 | device();
  }();
  static std::atomic<uint32_t> counter{0};
  return "nolvexa_scratch_" + std::to_string(tag) + "_" + std::to_string(counter++) + ".bin";
}

}  // namespace

ScratchFile::ScratchFile(std::span<const uint8_t> bytes) {
  std::error_code error;
  path_ = std::filesystem::temp_directory_path(error) / UniqueName();
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  written_ = static_cast<bool>(out);
}

ScratchFile::~ScratchFile() {
  std::error_code error;
  std::filesystem::remove(path_, error);
}

}  // namespace support
