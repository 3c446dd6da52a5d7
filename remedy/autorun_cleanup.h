// The registry fallback: the programs that autorun entries start from a "\Temp" directory are
// deleted. The registry itself is only read. Main thread only.
#pragma once

#include <string>

#include "remedy/registry.h"
#include "remedy/remedy_state.h"

namespace remedy {

inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kPoliciesRunKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
inline constexpr wchar_t kWindowsKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
inline constexpr wchar_t kTempMarker[] = L"\\Temp";

// True when at least one candidate file was deleted.
bool CleanAutorunEntries(Context& context);

// Adds to the candidate list every value of the key whose data contains "\Temp".
void CollectTempAutoruns(Context& context, RootKey root, const std::wstring& subkey);

// Appends (name, empty data) for each value of the key; true when the key was opened and holds
// at least one value.
bool EnumerateValueNames(Context& context, RootKey root, const std::wstring& subkey);

// Fills in the data of every listed value that can be read; always true.
bool QueryValueData(Context& context, RootKey root, const std::wstring& subkey);

}  // namespace remedy
