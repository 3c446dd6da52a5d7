#include "remedy/autorun_cleanup.h"

#include "remedy/file_removal.h"

namespace remedy {

bool EnumerateValueNames(Context& context, RootKey root, const std::wstring& subkey) {
  std::vector<std::wstring> names;
  if (!context.services.registry.ValueNames(root, subkey, names)) return false;
  for (std::wstring& name : names) context.state.registryValues.emplace_back(std::move(name), L"");
  return !names.empty();
}

bool QueryValueData(Context& context, RootKey root, const std::wstring& subkey) {
  for (auto& [name, data] : context.state.registryValues) {
    std::wstring read;
    if (context.services.registry.QueryValue(root, subkey, name, read)) data = std::move(read);
  }
  return true;
}

void CollectTempAutoruns(Context& context, RootKey root, const std::wstring& subkey) {
  if (!EnumerateValueNames(context, root, subkey)) return;
  if (!QueryValueData(context, root, subkey)) return;
  for (const auto& [name, data] : context.state.registryValues) {
    // Case-sensitive on purpose: the family writes its copies below "...\Temp".
    if (data.find(kTempMarker) != std::wstring::npos)
      context.state.autorunCandidates.push_back(data);
  }
}

bool CleanAutorunEntries(Context& context) {
  CollectTempAutoruns(context, RootKey::kLocalMachine, kRunKey);
  context.state.registryValues.clear();
  CollectTempAutoruns(context, RootKey::kLocalMachine, kPoliciesRunKey);
  context.state.registryValues.clear();
  CollectTempAutoruns(context, RootKey::kCurrentUser, kWindowsKey);
  bool deletedAny = false;
  for (const std::wstring& path : context.state.autorunCandidates) {
    if (DeleteInfectedFile(context.services, path)) deletedAny = true;
  }
  return deletedAny;
}

}  // namespace remedy
