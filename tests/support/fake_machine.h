// FakeMachine: an in-memory Windows machine that plays every service interface for the stage
// tests and records what was done to it: drives with files and folders (listed in the order they
// were added), processes with parents and threads with start regions, registry values, a
// console with a cursor, and the waits. Console text is kept as one 8-bit text with markers for
// flushes, cursor moves and the pause; every other action is one line in Log().
// Single-threaded, like the stages it serves.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "remedy/services.h"

namespace support {

class FakeMachine final : public remedy::FileSystem,
                          public remedy::Processes,
                          public remedy::Registry,
                          public remedy::Console,
                          public remedy::Privileges,
                          public remedy::Clock {
 public:
  FakeMachine();

  // Drives by lower-case letter; letters not set report 1 (no root directory).
  FakeMachine& SetDriveType(wchar_t letter, uint32_t type);
  // Files and folders by full path ("c:\d\a.exe"); parents are made as plain folders.
  FakeMachine& AddFile(const std::wstring& path, std::vector<uint8_t> bytes,
                       uint32_t attributes = remedy::kAttributeArchive);
  FakeMachine& AddFolder(const std::wstring& path,
                         uint32_t attributes = remedy::kAttributeDirectory);
  // The file stays open in another process without delete sharing: it cannot be deleted.
  FakeMachine& HoldOpen(const std::wstring& path, bool held = true);
  // Its DACL denies deletion until a null DACL is set.
  FakeMachine& DenyDelete(const std::wstring& path);
  FakeMachine& FailReads(const std::wstring& path);
  bool Exists(const std::wstring& path) const;
  uint32_t AttributesOf(const std::wstring& path) const;
  std::vector<uint8_t> BytesOf(const std::wstring& path) const;

  // Processes in snapshot order; the first one added plays the idle process.
  FakeMachine& AddProcess(uint32_t processId, uint32_t parentId, const std::wstring& exeFile);
  // A thread whose start address lies in a region of these bytes; unreadable when `readable` is
  // false.
  FakeMachine& AddThread(uint32_t threadId, uint32_t ownerId, std::vector<uint8_t> region,
                         bool readable = true);
  FakeMachine& FailTerminate(uint32_t processId);
  FakeMachine& SetWow64(std::optional<bool> wow64);
  bool Running(uint32_t processId) const;
  // The byte counts each region read returned, in order.
  const std::vector<size_t>& RegionReads() const { return regionReads_; }

  FakeMachine& AddValue(remedy::RootKey root, const std::wstring& subkey, const std::wstring& name,
                        const std::wstring& data, bool tooLong = false);

  FakeMachine& SetCursor(int16_t x, int16_t y);
  FakeMachine& FailCursorReads(uint32_t error);
  FakeMachine& FailDebugPrivilege();

  remedy::Services& Services() { return services_; }
  const std::string& Output() const { return output_; }
  void ClearOutput() { output_.clear(); }
  const std::vector<std::wstring>& Log() const { return log_; }
  // Log lines that start with `prefix`.
  std::vector<std::wstring> LogOf(const std::wstring& prefix) const;
  const std::vector<std::wstring>& ProbedRoots() const { return probed_; }

  // FileSystem
  uint32_t DriveType(const std::wstring& root) override;
  std::unique_ptr<remedy::Listing> FindFirst(const std::wstring& pattern, remedy::FindEntry& first,
                                             uint32_t& error) override;
  uint32_t Attributes(const std::wstring& path) override;
  bool SetAttributes(const std::wstring& path, uint32_t attributes) override;
  bool Rename(const std::wstring& from, const std::wstring& to) override;
  bool RemoveFile(const std::wstring& path) override;
  bool SetNullDacl(const std::wstring& path) override;
  bool ReadWholeFile(const std::wstring& path, size_t maxBytes,
                     std::vector<uint8_t>& bytes) override;
  // Processes
  std::vector<remedy::ThreadRecord> ThreadSnapshot() override;
  std::vector<remedy::ProcessRecord> ProcessSnapshot() override;
  bool ReadThreadStartRegion(const remedy::ThreadRecord& thread, size_t limit,
                             std::vector<uint8_t>& bytes) override;
  bool Terminate(uint32_t processId) override;
  std::optional<bool> IsWow64() override;
  // Registry
  bool ValueNames(remedy::RootKey root, const std::wstring& subkey,
                  std::vector<std::wstring>& names) override;
  bool QueryValue(remedy::RootKey root, const std::wstring& subkey, const std::wstring& name,
                  std::wstring& data) override;
  // Console
  void Write(std::string_view text) override;
  void Flush() override;
  void Pause() override;
  bool ReadCursor(remedy::CursorPosition& at, uint32_t& error) override;
  void MoveCursor(remedy::CursorPosition to) override;
  // Privileges
  bool EnableDebugPrivilege() override;
  // Clock
  void Sleep(uint32_t milliseconds) override;

 private:
  struct Node {
    uint32_t attributes = 0;
    std::vector<uint8_t> bytes;
    std::vector<std::wstring> children;  // names, in the order they were added
    bool heldOpen = false;
    bool daclDenies = false;
    bool readFails = false;
  };
  struct Thread {
    remedy::ThreadRecord record;
    std::vector<uint8_t> region;
    bool readable = true;
  };
  struct Value {
    std::wstring name;
    std::wstring data;
    bool tooLong = false;
  };

  static std::wstring Key(const std::wstring& path);  // folds repeated backslashes
  Node* Find(const std::wstring& path);
  const Node* Find(const std::wstring& path) const;
  void Link(const std::wstring& path);

  std::map<wchar_t, uint32_t> driveTypes_;
  std::map<std::wstring, Node> nodes_;
  std::vector<remedy::ProcessRecord> processes_;
  std::vector<Thread> threads_;
  std::vector<uint32_t> terminateFails_;
  std::optional<bool> wow64_ = false;
  std::vector<size_t> regionReads_;
  std::map<std::pair<remedy::RootKey, std::wstring>, std::vector<Value>> registry_;
  remedy::CursorPosition cursor_;
  std::optional<uint32_t> cursorError_;
  bool debugPrivilegeFails_ = false;
  std::string output_;
  std::vector<std::wstring> log_;
  std::vector<std::wstring> probed_;
  remedy::Services services_;
};

}  // namespace support
