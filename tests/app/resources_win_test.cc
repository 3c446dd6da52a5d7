// The built program carries a manifest that asks for administrator rights and a version record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ProgramPath() {
  wchar_t self[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"nolvexa-removal.exe";
}

class ProgramResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // Wine names a program outside every drive without its "\\?\" prefix; the test then runs
    // in the program's folder.
    if (module_ == nullptr) {
      module_ = LoadLibraryExW(L"nolvexa-removal.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ASSERT_NE(module_, nullptr) << "error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  std::string Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(module_, found));
  }
  HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, ManifestRequiresAdministrator) {
  const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
}

TEST_F(ProgramResources, VersionRecordNamesTheProduct) {
  const std::string version = Resource(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(version.empty());
  // The record's strings are UTF-16; look for the product name as such.
  const std::wstring product = L"Velmora Antivirus Nolvexa Removal";
  const std::string wide(reinterpret_cast<const char*>(product.data()),
                         product.size() * sizeof(wchar_t));
  EXPECT_NE(version.find(wide), std::string::npos);
}

}  // namespace
