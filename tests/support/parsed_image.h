// ParsedImage: a PeBuilder image parsed in memory by PeImage::ParseHeaders, for tests that need
// a PeImage without a file. It owns the bytes, so the image's views stay valid as long as it.
#pragma once

#include <cstdint>
#include <vector>

#include "fileinfo/pe_image.h"
#include "tests/support/pe_builder.h"

namespace support {

class ParsedImage {
 public:
  explicit ParsedImage(const PeBuilder& builder) : bytes_(builder.Bytes()) {
    result_ = pe_.ParseHeaders(bytes_);
  }
  ParsedImage(const ParsedImage&) = delete;
  ParsedImage& operator=(const ParsedImage&) = delete;

  fileinfo::LoadResult Result() const { return result_; }
  const fileinfo::PeImage& Image() const { return pe_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;  // declared first: outlives the image that points into it
  fileinfo::PeImage pe_;
  fileinfo::LoadResult result_;
};

}  // namespace support
