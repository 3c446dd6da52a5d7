// The Win32 implementations of the service interfaces (Windows builds only; the definitions are
// in the *_win.cc files). Each makes the real calls with the arguments the stages rely on.
#pragma once

#include "remedy/clock.h"
#include "remedy/console.h"
#include "remedy/file_system.h"
#include "remedy/privileges.h"
#include "remedy/processes.h"
#include "remedy/registry.h"

namespace remedy {

class Win32Console final : public Console {
 public:
  void Write(std::string_view text) override;
  void Flush() override;
  void Pause() override;
  bool ReadCursor(CursorPosition& at, uint32_t& error) override;
  void MoveCursor(CursorPosition to) override;
};

class Win32FileSystem final : public FileSystem {
 public:
  uint32_t DriveType(const std::wstring& root) override;
  std::unique_ptr<Listing> FindFirst(const std::wstring& pattern, FindEntry& first,
                                     uint32_t& error) override;
  uint32_t Attributes(const std::wstring& path) override;
  bool SetAttributes(const std::wstring& path, uint32_t attributes) override;
  bool Rename(const std::wstring& from, const std::wstring& to) override;
  bool RemoveFile(const std::wstring& path) override;
  bool SetNullDacl(const std::wstring& path) override;
  bool ReadWholeFile(const std::wstring& path, size_t maxBytes,
                     std::vector<uint8_t>& bytes) override;
};

class Win32Processes final : public Processes {
 public:
  std::vector<ThreadRecord> ThreadSnapshot() override;
  std::vector<ProcessRecord> ProcessSnapshot() override;
  bool ReadThreadStartRegion(const ThreadRecord& thread, size_t limit,
                             std::vector<uint8_t>& bytes) override;
  bool Terminate(uint32_t processId) override;
  std::optional<bool> IsWow64() override;
};

class Win32Registry final : public Registry {
 public:
  bool ValueNames(RootKey root, const std::wstring& subkey,
                  std::vector<std::wstring>& names) override;
  bool QueryValue(RootKey root, const std::wstring& subkey, const std::wstring& name,
                  std::wstring& data) override;
};

class Win32Privileges final : public Privileges {
 public:
  bool EnableDebugPrivilege() override;
};

class Win32Clock final : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override;
};

}  // namespace remedy
