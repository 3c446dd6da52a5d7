#include "tests/support/fake_machine.h"

#include <algorithm>
#include <cstdio>

namespace support {
namespace {

constexpr uint32_t kDriveNoRootDir = 1;
constexpr uint32_t kErrorPathNotFound = 3;

std::wstring Hex(uint32_t value) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%X", value);
  return text;
}

std::pair<std::wstring, std::wstring> SplitParent(const std::wstring& key) {
  const size_t slash = key.find_last_of(L'\\');
  if (slash == std::wstring::npos) return {L"", key};
  // A drive root keeps its backslash: "c:\".
  std::wstring parent = key.substr(0, slash);
  if (parent.size() == 2 && parent[1] == L':') parent += L'\\';
  return {parent, key.substr(slash + 1)};
}

class FakeListing final : public remedy::Listing {
 public:
  explicit FakeListing(std::vector<remedy::FindEntry> entries) : entries_(std::move(entries)) {}
  bool Next(remedy::FindEntry& entry) override {
    if (next_ >= entries_.size()) return false;
    entry = entries_[next_++];
    return true;
  }

 private:
  std::vector<remedy::FindEntry> entries_;
  size_t next_ = 1;  // the first entry went out with FindFirst
};

}  // namespace

FakeMachine::FakeMachine() : services_{*this, *this, *this, *this, *this, *this} {}

std::wstring FakeMachine::Key(const std::wstring& path) {
  std::wstring key;
  for (const wchar_t c : path) {
    if (c == L'\\' && !key.empty() && key.back() == L'\\') continue;
    key += c;
  }
  if (key.size() > 3 && key.back() == L'\\') key.pop_back();
  return key;
}

FakeMachine::Node* FakeMachine::Find(const std::wstring& path) {
  const auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

const FakeMachine::Node* FakeMachine::Find(const std::wstring& path) const {
  const auto it = nodes_.find(Key(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

void FakeMachine::Link(const std::wstring& key) {
  const auto [parent, name] = SplitParent(key);
  if (parent.empty() || parent == key) return;
  if (!nodes_.count(parent)) {
    nodes_[parent].attributes = remedy::kAttributeDirectory;
    Link(parent);
  }
  auto& children = nodes_[parent].children;
  if (std::find(children.begin(), children.end(), name) == children.end()) {
    children.push_back(name);
  }
}

FakeMachine& FakeMachine::SetDriveType(wchar_t letter, uint32_t type) {
  driveTypes_[letter] = type;
  if (type == remedy::kDriveFixed || type == remedy::kDriveRemovable) {
    const std::wstring root{letter, L':', L'\\'};
    if (!nodes_.count(root)) nodes_[root].attributes = remedy::kAttributeDirectory;
  }
  return *this;
}

FakeMachine& FakeMachine::AddFile(const std::wstring& path, std::vector<uint8_t> bytes,
                                  uint32_t attributes) {
  Node& node = nodes_[Key(path)];
  node.attributes = attributes;
  node.bytes = std::move(bytes);
  Link(Key(path));
  return *this;
}

FakeMachine& FakeMachine::AddFolder(const std::wstring& path, uint32_t attributes) {
  nodes_[Key(path)].attributes = attributes | remedy::kAttributeDirectory;
  Link(Key(path));
  return *this;
}

FakeMachine& FakeMachine::HoldOpen(const std::wstring& path, bool held) {
  Find(path)->heldOpen = held;
  return *this;
}

FakeMachine& FakeMachine::DenyDelete(const std::wstring& path) {
  Find(path)->daclDenies = true;
  return *this;
}

FakeMachine& FakeMachine::FailReads(const std::wstring& path) {
  Find(path)->readFails = true;
  return *this;
}

bool FakeMachine::Exists(const std::wstring& path) const { return Find(path) != nullptr; }

uint32_t FakeMachine::AttributesOf(const std::wstring& path) const {
  const Node* node = Find(path);
  return node ? node->attributes : remedy::kInvalidAttributes;
}

std::vector<uint8_t> FakeMachine::BytesOf(const std::wstring& path) const {
  const Node* node = Find(path);
  return node ? node->bytes : std::vector<uint8_t>{};
}

FakeMachine& FakeMachine::AddProcess(uint32_t processId, uint32_t parentId,
                                     const std::wstring& exeFile) {
  processes_.push_back(remedy::ProcessRecord{processId, parentId, exeFile});
  return *this;
}

FakeMachine& FakeMachine::AddThread(uint32_t threadId, uint32_t ownerId,
                                    std::vector<uint8_t> region, bool readable) {
  threads_.push_back(Thread{remedy::ThreadRecord{threadId, ownerId}, std::move(region), readable});
  return *this;
}

FakeMachine& FakeMachine::FailTerminate(uint32_t processId) {
  terminateFails_.push_back(processId);
  return *this;
}

FakeMachine& FakeMachine::SetWow64(std::optional<bool> wow64) {
  wow64_ = wow64;
  return *this;
}

bool FakeMachine::Running(uint32_t processId) const {
  return std::any_of(processes_.begin(), processes_.end(),
                     [&](const auto& p) { return p.processId == processId; });
}

FakeMachine& FakeMachine::AddValue(remedy::RootKey root, const std::wstring& subkey,
                                   const std::wstring& name, const std::wstring& data,
                                   bool tooLong) {
  registry_[{root, subkey}].push_back(Value{name, data, tooLong});
  return *this;
}

FakeMachine& FakeMachine::SetCursor(int16_t x, int16_t y) {
  cursor_ = remedy::CursorPosition{x, y};
  return *this;
}

FakeMachine& FakeMachine::FailCursorReads(uint32_t error) {
  cursorError_ = error;
  return *this;
}

FakeMachine& FakeMachine::FailDebugPrivilege() {
  debugPrivilegeFails_ = true;
  return *this;
}

std::vector<std::wstring> FakeMachine::LogOf(const std::wstring& prefix) const {
  std::vector<std::wstring> lines;
  for (const std::wstring& line : log_) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

uint32_t FakeMachine::DriveType(const std::wstring& root) {
  probed_.push_back(root);
  if (root.size() != 3 || root[1] != L':' || root[2] != L'\\') return kDriveNoRootDir;
  const auto it = driveTypes_.find(root[0]);
  return it == driveTypes_.end() ? kDriveNoRootDir : it->second;
}

std::unique_ptr<remedy::Listing> FakeMachine::FindFirst(const std::wstring& pattern,
                                                        remedy::FindEntry& first, uint32_t& error) {
  log_.push_back(L"find " + pattern);
  const std::wstring suffix = L"\\*.*";
  const Node* folder = nullptr;
  std::wstring folderKey;
  if (pattern.size() > suffix.size() &&
      pattern.compare(pattern.size() - suffix.size(), suffix.size(), suffix) == 0) {
    folderKey = Key(pattern.substr(0, pattern.size() - suffix.size()));
    if (folderKey.size() == 2 && folderKey[1] == L':') folderKey += L'\\';
    folder = Find(folderKey);
  }
  if (folder == nullptr || !(folder->attributes & remedy::kAttributeDirectory)) {
    error = kErrorPathNotFound;
    return nullptr;
  }
  std::vector<remedy::FindEntry> entries;
  // Roots list no dot entries, as on Windows; other folders do.
  if (folderKey.size() > 3) {
    entries.push_back({remedy::kAttributeDirectory, L"."});
    entries.push_back({remedy::kAttributeDirectory, L".."});
  }
  for (const std::wstring& name : folder->children) {
    const std::wstring childKey = Key(folderKey + L"\\" + name);
    if (const Node* child = Find(childKey)) entries.push_back({child->attributes, name});
  }
  if (entries.empty()) {
    error = 18;  // ERROR_NO_MORE_FILES
    return nullptr;
  }
  first = entries.front();
  return std::make_unique<FakeListing>(std::move(entries));
}

uint32_t FakeMachine::Attributes(const std::wstring& path) { return AttributesOf(path); }

bool FakeMachine::SetAttributes(const std::wstring& path, uint32_t attributes) {
  log_.push_back(L"set-attributes " + path + L" " + Hex(attributes));
  Node* node = Find(path);
  if (!node) return false;
  const uint32_t kept = node->attributes & remedy::kAttributeDirectory;
  node->attributes = attributes == remedy::kAttributeNormal && kept ? kept : attributes | kept;
  return true;
}

bool FakeMachine::Rename(const std::wstring& from, const std::wstring& to) {
  log_.push_back(L"rename " + from + L" -> " + to);
  const std::wstring fromKey = Key(from);
  const std::wstring toKey = Key(to);
  if (!nodes_.count(fromKey) || nodes_.count(toKey)) return false;
  // Move the node and everything below it, and put the new name in the old one's place.
  std::map<std::wstring, Node> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first == fromKey || it->first.rfind(fromKey + L"\\", 0) == 0) {
      moved[toKey + it->first.substr(fromKey.size())] = std::move(it->second);
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
  nodes_.merge(moved);
  const auto [fromParent, fromName] = SplitParent(fromKey);
  const auto [toParent, toName] = SplitParent(toKey);
  auto& oldChildren = nodes_[fromParent].children;
  oldChildren.erase(std::remove(oldChildren.begin(), oldChildren.end(), fromName),
                    oldChildren.end());
  nodes_[toParent].children.push_back(toName);
  return true;
}

bool FakeMachine::RemoveFile(const std::wstring& path) {
  log_.push_back(L"delete " + path);
  Node* node = Find(path);
  if (!node || (node->attributes & remedy::kAttributeDirectory)) return false;
  if (node->heldOpen || node->daclDenies || (node->attributes & remedy::kAttributeReadOnly)) {
    return false;
  }
  const std::wstring key = Key(path);
  const auto [parent, name] = SplitParent(key);
  auto& children = nodes_[parent].children;
  children.erase(std::remove(children.begin(), children.end(), name), children.end());
  nodes_.erase(key);
  return true;
}

bool FakeMachine::SetNullDacl(const std::wstring& path) {
  log_.push_back(L"null-dacl " + path);
  Node* node = Find(path);
  if (!node) return false;
  node->daclDenies = false;
  return true;
}

bool FakeMachine::ReadWholeFile(const std::wstring& path, size_t maxBytes,
                                std::vector<uint8_t>& bytes) {
  log_.push_back(L"read " + path);
  const Node* node = Find(path);
  if (!node || node->readFails || (node->attributes & remedy::kAttributeDirectory)) return false;
  if (node->bytes.size() > maxBytes) return false;
  bytes = node->bytes;
  return true;
}

std::vector<remedy::ThreadRecord> FakeMachine::ThreadSnapshot() {
  log_.push_back(L"thread-snapshot");
  std::vector<remedy::ThreadRecord> records;
  for (const Thread& thread : threads_) {
    if (Running(thread.record.ownerProcessId)) records.push_back(thread.record);
  }
  return records;
}

std::vector<remedy::ProcessRecord> FakeMachine::ProcessSnapshot() { return processes_; }

bool FakeMachine::ReadThreadStartRegion(const remedy::ThreadRecord& thread, size_t limit,
                                        std::vector<uint8_t>& bytes) {
  for (const Thread& candidate : threads_) {
    if (candidate.record.threadId != thread.threadId) continue;
    if (!candidate.readable || !Running(thread.ownerProcessId)) return false;
    const size_t size = std::min(candidate.region.size(), limit);
    bytes.assign(candidate.region.begin(), candidate.region.begin() + static_cast<long>(size));
    regionReads_.push_back(size);
    return true;
  }
  return false;
}

bool FakeMachine::Terminate(uint32_t processId) {
  log_.push_back(L"terminate " + std::to_wstring(processId));
  if (std::count(terminateFails_.begin(), terminateFails_.end(), processId)) return false;
  const auto it = std::find_if(processes_.begin(), processes_.end(),
                               [&](const auto& p) { return p.processId == processId; });
  if (it == processes_.end()) return false;
  processes_.erase(it);
  return true;
}

std::optional<bool> FakeMachine::IsWow64() { return wow64_; }

bool FakeMachine::ValueNames(remedy::RootKey root, const std::wstring& subkey,
                             std::vector<std::wstring>& names) {
  const auto it = registry_.find({root, subkey});
  if (it == registry_.end()) return false;
  for (const Value& value : it->second) names.push_back(value.name);
  return true;
}

bool FakeMachine::QueryValue(remedy::RootKey root, const std::wstring& subkey,
                             const std::wstring& name, std::wstring& data) {
  const auto it = registry_.find({root, subkey});
  if (it == registry_.end()) return false;
  for (const Value& value : it->second) {
    if (value.name != name) continue;
    if (value.tooLong) return false;
    data = value.data;
    return true;
  }
  return false;
}

void FakeMachine::Write(std::string_view text) {
  output_.append(text);
  for (const char c : text) {
    if (c == '\n') {
      cursor_.x = 0;
      ++cursor_.y;
    } else {
      ++cursor_.x;
    }
  }
}

void FakeMachine::Flush() { output_.append("<flush>"); }

void FakeMachine::Pause() {
  output_.append("<pause>");
  log_.push_back(L"pause");
}

bool FakeMachine::ReadCursor(remedy::CursorPosition& at, uint32_t& error) {
  if (cursorError_) {
    error = *cursorError_;
    return false;
  }
  at = cursor_;
  return true;
}

void FakeMachine::MoveCursor(remedy::CursorPosition to) {
  cursor_ = to;
  output_ += "<at " + std::to_string(to.x) + "," + std::to_string(to.y) + ">";
}

bool FakeMachine::EnableDebugPrivilege() {
  log_.push_back(L"debug-privilege");
  return !debugPrivilegeFails_;
}

void FakeMachine::Sleep(uint32_t milliseconds) {
  log_.push_back(L"sleep " + std::to_wstring(milliseconds));
}

}  // namespace support
