// Writes the demo machine's files: make_demo_files C_DIR E_DIR.
// C_DIR becomes a tree on the fixed drive c: with infected and clean PE32 images and a non-PE
// file; E_DIR the root of the removable drive with an infected shortcut, the folder that holds
// the user's files and the folder-view files. Attributes are set afterwards, under Wine.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/builtin_signatures.h"
#include "tests/support/pe_builder.h"
#include "tests/support/signature_bytes.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Code(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<uint8_t> Pattern(size_t row) {
  return support::SignatureBytes(app::kBuiltinSignatures[row - 1].pattern);
}

// A PE32 image whose first section holds random code and, when `row` is set, the bytes of that
// built-in signature at `offset` into the section.
std::vector<uint8_t> Image(uint32_t seed, size_t row = 0, uint32_t offset = 0) {
  support::PeBuilder image;
  image.SectionBytes(0, 0, Code(0x1800, seed));
  if (row != 0) image.SectionBytes(0, offset, Pattern(row));
  return image.Bytes();
}

void Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void Write(const fs::path& path, const std::string& text) {
  Write(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: nolvexa-demo-files C_DIR E_DIR\n", stderr);
    return 2;
  }
  const fs::path c = argv[1];
  const fs::path e = argv[2];

  // Row 84 may match anywhere; row 48 only 150 to 250 bytes into section 0.
  Write(c / "Program Files/Nolvexa Demo/updater.exe", Image(1, 84, 0x400));
  Write(c / "Program Files/Nolvexa Demo/plugins/helper.dll", Image(2, 48, 200));
  Write(c / "users/Public/readonly.exe", Image(3, 84, 0x100));
  Write(c / "users/Public/locked.exe", Image(4, 106, 0x80));
  Write(c / "Program Files/Nolvexa Demo/clean.exe", Image(5));
  // Row 48's bytes outside its window: a clean file by the location rule.
  Write(c / "Program Files/Nolvexa Demo/misplaced.dll", Image(6, 48, 0x600));
  // The signature bytes in a file that is no PE image: not scanned, kept.
  std::vector<uint8_t> notes(64, 'x');
  support::Plant(notes, 64, Pattern(84));
  Write(c / "users/Public/notes.dat", notes);
  Write(c / "users/Public/readme.txt", std::string("A clean text file.\r\n"));

  // The shortcut carries the rundll32 text of row 2 among ordinary shortcut bytes.
  std::vector<uint8_t> shortcut = Code(600, 7);
  shortcut[0] = 0x4C;
  support::Plant(shortcut, 0x120, Pattern(2));
  Write(e / "Photos.lnk", shortcut);
  Write(e / "data/holiday.jpg", Code(2048, 8));
  Write(e / "data/letter.txt", std::string("The user's own files.\r\n"));
  Write(e / "desktop.ini", std::string("[.ShellClassInfo]\r\n"));
  Write(e / "Thumbs.db", Code(512, 9));
  std::puts("demo files written");
  return 0;
}
