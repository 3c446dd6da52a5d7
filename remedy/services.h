// Services: the Windows services one run uses, one interface per group. The program binds them
// to the Win32 implementations (win32_services.h); tests bind them to a FakeMachine.
#pragma once

#include "remedy/clock.h"
#include "remedy/console.h"
#include "remedy/file_system.h"
#include "remedy/privileges.h"
#include "remedy/processes.h"
#include "remedy/registry.h"

namespace remedy {

struct Services {
  FileSystem& files;
  Processes& processes;
  Registry& registry;
  Console& console;
  Privileges& privileges;
  Clock& clock;
};

}  // namespace remedy
