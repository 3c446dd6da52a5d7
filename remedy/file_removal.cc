#include "remedy/file_removal.h"

namespace remedy {

void GrantFullAccess(Services& services, const std::wstring& path) {
  [[maybe_unused]] const bool granted = services.files.SetNullDacl(path);
}

bool DeleteInfectedFile(Services& services, const std::wstring& path) {
  services.clock.Sleep(kDeleteDelayMs);
  GrantFullAccess(services, path);  // may fail; the delete below decides the result
  return services.files.RemoveFile(path);
}

}  // namespace remedy
