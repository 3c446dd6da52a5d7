// The one deletion primitive of the system: wait, strip the file's DACL, delete.
// Retrying is the caller's business. Main thread only.
#pragma once

#include <string>

#include "remedy/services.h"

namespace remedy {

inline constexpr uint32_t kDeleteDelayMs = 1000;

// True when the file was deleted. Always waits kDeleteDelayMs first, so that a process that was
// just terminated has released the file. Does not touch attributes: a read-only file stays.
[[nodiscard]] bool DeleteInfectedFile(Services& services, const std::wstring& path);

// Gives everyone every access to the file; failures are silent.
void GrantFullAccess(Services& services, const std::wstring& path);

}  // namespace remedy
