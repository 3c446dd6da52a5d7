#include "remedy/file_scan.h"

#include <gtest/gtest.h>

#include "app/builtin_signatures.h"
#include "engine/engine.h"
#include "fileinfo/md5.h"
#include "tests/support/pe_builder.h"
#include "tests/support/scratch_file.h"
#include "tests/support/signature_bytes.h"
#include "tests/support/stage_context.h"

namespace {

using support::BuiltinEngine;
using support::PeBuilder;
using support::ScratchFile;

std::vector<uint8_t> ImageWith(size_t row, uint32_t offset) {
  return PeBuilder()
      .SectionBytes(0, offset, support::SignatureBytes(app::kBuiltinSignatures[row - 1].pattern))
      .Bytes();
}

TEST(ScanFile, ReportsTheFirstMatchOfAPe32Image) {
  const ScratchFile file(ImageWith(84, 0x40));
  std::string name = "NNN";
  EXPECT_EQ(remedy::ScanFile(BuiltinEngine(), file.Path(), name), remedy::kScanMatched);
  EXPECT_EQ(name, "FileSig");
}

TEST(ScanFile, LeavesTheNameAloneForCleanFilesAndSkipsWhatIsNoPe32Image) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int expected;
  };
  std::vector<uint8_t> text = support::SignatureBytes(app::kBuiltinSignatures[83].pattern);
  const Case cases[] = {
      {"clean_image", PeBuilder().Bytes(), remedy::kScanClean},
      // Row 48 may only start 150 to 250 bytes into section 0.
      {"misplaced_signature", ImageWith(48, 300), remedy::kScanClean},
      {"signature_bytes_in_no_image", text, remedy::kScanNotPe32},
      {"pe32_plus", PeBuilder().Pe32Plus().SectionBytes(0, 0, text).Bytes(), remedy::kScanNotPe32},
      {"empty", {}, remedy::kScanNotPe32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchFile file(c.bytes);
    std::string name = "NNN";
    EXPECT_EQ(remedy::ScanFile(BuiltinEngine(), file.Path(), name), c.expected);
    EXPECT_EQ(name, "NNN");
  }
  std::string name = "NNN";
  EXPECT_EQ(remedy::ScanFile(BuiltinEngine(), L"no-such-file.exe", name), remedy::kScanNotPe32);
}

TEST(ScanFile, FallsBackToTheHashStoreWhenNoSignatureMatches) {
  const std::vector<uint8_t> code = {0x55, 0x8B, 0xEC};
  const std::vector<uint8_t> bytes = PeBuilder().SectionBytes(0, 0, code).Bytes();
  engine::Engine engine;
  ASSERT_TRUE(engine.HashCache().AddRecord(fileinfo::Md5Buffer(bytes), std::nullopt,
                                           static_cast<uint32_t>(bytes.size()), "HashSig"));
  engine.Compile();
  const ScratchFile file(bytes);
  std::string name = "NNN";
  EXPECT_EQ(remedy::ScanFile(engine, file.Path(), name), remedy::kScanMatched);
  EXPECT_EQ(name, "HashSig");
}

}  // namespace
