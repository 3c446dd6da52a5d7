// WalkDirectory with Win32FileSystem, ScanFileInContext and the built-in table on files the test
// writes: the program's walk of a fixed drive on real files. Console, clock and processes are a
// FakeMachine's: the walk's output is recorded, the deletion's one-second wait is not slept, and
// a failed deletion's process scan cannot end a process of the machine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/builtin_signatures.h"
#include "remedy/drive_walk.h"
#include "remedy/file_scan.h"
#include "remedy/win32_services.h"
#include "tests/support/fake_machine.h"
#include "tests/support/pe_builder.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/signature_bytes.h"
#include "tests/support/stage_context.h"

namespace {

// wine-run.sh puts a host symbolic link at c:\nolvexa-links\link to the folder "target" beside
// it, which Wine shows as a directory reparse point; Wine cannot make such a link itself.
constexpr wchar_t kLinkFixture[] = L"c:\\nolvexa-links";
constexpr wchar_t kLinkTarget[] = L"c:\\nolvexa-links\\target";

// Row 84 is in force and may match anywhere in the file.
std::vector<uint8_t> RowBytes() {
  return support::SignatureBytes(app::kBuiltinSignatures[83].pattern);
}

std::vector<uint8_t> Code(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<uint8_t> Image(uint32_t seed, bool infected, bool pe32Plus = false) {
  support::PeBuilder image;
  if (pe32Plus) image.Pe32Plus();
  image.SectionBytes(0, 0, Code(0x1000, seed));
  if (infected) image.SectionBytes(0, 0x300, RowBytes());
  return image.Bytes();
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(WalkDirectoryOnWindows, DeletesInfectedImagesOnlyAndFollowsNoLink) {
  // Under Wine the files go below the host link's target and the walk starts above the link:
  // were the link followed, every file would be met twice. Elsewhere there is no such link.
  const bool wine = support::RunningUnderWine();
  support::ScratchFolder folder(L"walk", wine ? kLinkTarget : L"");
  ASSERT_FALSE(folder.Path().empty());
  const std::wstring& d = folder.Path();
  const std::wstring infected = d + L"\\infected.exe";
  const std::wstring deep = d + L"\\sub\\deeper\\infected.dll";
  const std::vector<std::pair<std::wstring, std::vector<uint8_t>>> kept = {
      {d + L"\\clean.exe", Image(1, false)},
      {d + L"\\sub\\wide.exe", Image(2, true, /*pe32Plus=*/true)},  // only PE32 is scanned
      {d + L"\\notes.dat",
       [] {
         std::vector<uint8_t> bytes(64, 'x');
         support::Plant(bytes, 64, RowBytes());  // the signature's bytes in no image at all
         return bytes;
       }()},
  };
  ASSERT_TRUE(support::MakeDirectories(d + L"\\sub\\deeper"));
  ASSERT_TRUE(support::WriteBytes(infected, Image(3, true)));
  ASSERT_TRUE(support::WriteBytes(deep, Image(4, true)));
  for (const auto& [path, bytes] : kept) ASSERT_TRUE(support::WriteBytes(path, bytes));

  support::FakeMachine machine;
  remedy::Win32FileSystem files;
  remedy::Services services{files, machine, machine, machine, machine, machine};
  remedy::Results results;
  remedy::StageState state;
  remedy::Context context{services, support::BuiltinEngine(), results, state,
                          &remedy::ScanFileInContext};
  remedy::WalkDirectory(context, wine ? kLinkFixture : d, &remedy::OnFileDetected);

  EXPECT_EQ(files.Attributes(infected), remedy::kInvalidAttributes);
  EXPECT_EQ(files.Attributes(deep), remedy::kInvalidAttributes);
  for (const auto& [path, bytes] : kept) {
    SCOPED_TRACE(testing::Message() << path.substr(d.size()).c_str());
    EXPECT_EQ(support::ReadBytes(path), bytes);
  }
  EXPECT_EQ(state.detectionFlag, 1);
  EXPECT_EQ(state.disinfectedFiles, 2u);
  EXPECT_TRUE(results.failedDeletions.empty());
  // One wait per deletion, and no process scan: each file went at the first attempt.
  EXPECT_EQ(machine.LogOf(L"sleep"), (std::vector<std::wstring>(2, L"sleep 1000")));

  const std::string& output = machine.Output();
  EXPECT_EQ(Occurrences(output, "\\clean.exe"), 1u);
  EXPECT_EQ(Occurrences(output, "Disinfect "), 2u);
  // Neither drawn nor walked: a deletion through the link would be announced with its path.
  if (wine) {
    EXPECT_EQ(Occurrences(output, "\\link"), 0u);
  }
}

}  // namespace
